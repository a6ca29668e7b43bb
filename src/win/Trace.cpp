// Diagnostic trace; see Trace.h. The file is opened for each line so that another process
// (a test, the demo) can read it at any time and nothing is lost when the program ends.
#include "Trace.h"

#include "win/Handles.h"

#include <windows.h>

#include <cstdio>

namespace pw {

namespace {
const std::string& TracePath() {
    static const std::string path = [] {
        char buffer[MAX_PATH + 1] = {};
        const DWORD n = GetEnvironmentVariableA("PWAGENT_TRACE", buffer, sizeof buffer);
        return (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string();
    }();
    return path;
}
} // namespace

bool TraceEnabled() {
    return !TracePath().empty();
}

void Trace(std::string_view text) {
    if (!TraceEnabled())
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%02u:%02u:%02u.%03u ", now.wHour, now.wMinute, now.wSecond,
             now.wMilliseconds);
    std::string line = stamp;
    line.append(text.data(), text.size());
    line += "\r\n";
    const UniqueFile file(CreateFileA(TracePath().c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace pw
