// The call log of the simulated RAS library: one line per call, appended to the file that
// PW_RASSIM_LOG names. It is a test tool's log, so it shows passwords exactly as they were
// given: tests check what the dial-up component dials with and writes back.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace pw::rassim {

// The value of an environment variable of this process; empty when it is unset. Read through
// the platform, not the C runtime, so that a caller's SetEnvironmentVariableA is seen.
std::string EnvironmentValue(const char* name);

// Appends one line (CR LF added) to the log file; nothing when PW_RASSIM_LOG is unset.
// Safe to call from several threads.
void LogLine(const std::string& line);

// One call of the library as a log line:
//   Function key="text" key=123 -> result key="output" ...
class CallLine {
public:
    explicit CallLine(const char* function) : args_(function) {}

    CallLine& Arg(const char* key, std::string_view text);
    CallLine& Arg(const char* key, uint32_t number);
    CallLine& HexArg(const char* key, uint32_t number);
    CallLine& Out(const char* key, std::string_view text);
    CallLine& Out(const char* key, uint32_t number);
    CallLine& HexOut(const char* key, uint32_t number);

    std::string Finish(DWORD result) const;

private:
    std::string args_;
    std::string outputs_;
};

// "0x0001ABCD": handles and flags.
std::string Hex(uint32_t value);
// Double-quoted; a quote, a backslash and control bytes are escaped, so a line stays a line.
std::string Quoted(std::string_view text);

} // namespace pw::rassim
