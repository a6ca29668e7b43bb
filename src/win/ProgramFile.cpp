// The program's own file; see ProgramFile.h.
#include "ProgramFile.h"

#include <windows.h>

namespace pw {

std::string ProgramFilePath() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    // A full buffer means the path was cut: no path is better than a wrong one.
    return std::string(path, n < MAX_PATH ? n : 0);
}

std::string DirectoryOf(std::string_view path) {
    const size_t slash = path.find_last_of("\\/:");
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

std::string ProgramName(std::string_view path) {
    std::string name(path.substr(DirectoryOf(path).size()));
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name;
}

std::string ProgramName() {
    return ProgramName(ProgramFilePath());
}

} // namespace pw
