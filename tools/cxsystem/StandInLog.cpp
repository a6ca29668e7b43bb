// The stand-in client's event log; see StandInLog.h. The file is opened for every line so that
// a reader sees each event at once and nothing is lost when the program ends.
#include "StandInLog.h"

#include <windows.h>

#include <cstdio>

#include "win/Handles.h"

namespace pw {

std::string Printable(std::string_view text, std::size_t maxBytes) {
    std::string result(text.substr(0, maxBytes));
    for (char& c : result) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    if (text.size() > maxBytes)
        result += "...";
    return result;
}

void StandInLog::Write(std::string_view text) {
    if (path_.empty())
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", now.wYear,
             now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
             static_cast<unsigned long>(GetCurrentProcessId()));
    std::string line = stamp;
    line += Printable(text, 4096);
    line += "\r\n";
    std::lock_guard<std::mutex> lock(mutex_);
    UniqueFile file(CreateFileA(path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

} // namespace pw
