// Safe loading of system libraries; see Handles.h.
#include "Handles.h"

#include <string>

namespace pw {

UniqueModule LoadSystemLibrary(const char* name) {
    char directory[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryA(directory, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return UniqueModule();
    std::string path(directory, n);
    path += '\\';
    path += name;
    // An absolute path with the altered search order keeps the current directory out of the
    // search for the library's own dependencies too.
    return UniqueModule(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

} // namespace pw
