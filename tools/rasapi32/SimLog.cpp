// Call log of the simulated RAS library; see SimLog.h.
#include "SimLog.h"

#include "win/Handles.h"

#include <cstdio>
#include <mutex>

namespace pw::rassim {

std::string EnvironmentValue(const char* name) {
    char buffer[MAX_PATH * 2] = {};
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer)
        return {};
    return std::string(buffer, n);
}

void LogLine(const std::string& line) {
    const std::string path = EnvironmentValue("PW_RASSIM_LOG");
    if (path.empty())
        return;
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    // Opened per line and shared fully, so that a test may read, truncate or delete the file
    // between calls.
    UniqueFile file(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    const std::string text = line + "\r\n";
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

CallLine& CallLine::Arg(const char* key, std::string_view text) {
    args_ += std::string(" ") + key + "=" + Quoted(text);
    return *this;
}

CallLine& CallLine::Arg(const char* key, uint32_t number) {
    args_ += std::string(" ") + key + "=" + std::to_string(number);
    return *this;
}

CallLine& CallLine::HexArg(const char* key, uint32_t number) {
    args_ += std::string(" ") + key + "=" + Hex(number);
    return *this;
}

CallLine& CallLine::Out(const char* key, std::string_view text) {
    outputs_ += std::string(" ") + key + "=" + Quoted(text);
    return *this;
}

CallLine& CallLine::Out(const char* key, uint32_t number) {
    outputs_ += std::string(" ") + key + "=" + std::to_string(number);
    return *this;
}

CallLine& CallLine::HexOut(const char* key, uint32_t number) {
    outputs_ += std::string(" ") + key + "=" + Hex(number);
    return *this;
}

std::string CallLine::Finish(DWORD result) const {
    return args_ + " -> " + std::to_string(result) + outputs_;
}

std::string Hex(uint32_t value) {
    char buffer[16] = {};
    std::snprintf(buffer, sizeof buffer, "0x%08lX", static_cast<unsigned long>(value));
    return buffer;
}

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escape[8] = {};
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

} // namespace pw::rassim
