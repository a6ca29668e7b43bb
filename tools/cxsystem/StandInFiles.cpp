// File helpers of the stand-in client; see StandInFiles.h.
#include "StandInFiles.h"

#include <windows.h>

#include <cstdio>

#include "win/Handles.h"
#include "win/ProgramFile.h"

namespace pw {

namespace {

bool WriteAll(HANDLE file, std::string_view content) {
    DWORD written = 0;
    return WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
           written == content.size();
}

std::string WithBackslash(std::string path) {
    if (!path.empty() && path.back() != '\\')
        path += '\\';
    return path;
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes) {
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::nullopt;
    DWORD high = 0;
    const DWORD size = GetFileSize(file.get(), &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size > maxBytes)
        return std::nullopt;
    std::string content(size, '\0');
    DWORD read = 0;
    if (size > 0 && !ReadFile(file.get(), &content[0], size, &read, nullptr))
        return std::nullopt;
    content.resize(read);
    return content;
}

bool RewriteFile(const std::string& path, std::string_view content) {
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && WriteAll(file.get(), content);
}

bool AppendToFile(const std::string& path, std::string_view content) {
    UniqueFile file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && WriteAll(file.get(), content);
}

std::string ProgramDirectory() {
    const std::string directory = DirectoryOf(ProgramFilePath());
    return directory.empty() ? CurrentDirectory() : directory;
}

std::string CurrentDirectory() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetCurrentDirectoryA(MAX_PATH, path);
    if (n == 0 || n >= MAX_PATH)
        return std::string(".\\");
    return WithBackslash(std::string(path, n));
}

std::string LocalTimestamp() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
             now.wHour, now.wMinute, now.wSecond);
    return text;
}

} // namespace pw
