// Paths that the build (compile-time definitions) or the test runner (environment variables)
// hand to a test program, in the form Win32 calls take. The definitions already carry the drive
// (pw_wine_path in cmake/Common.cmake); run-time values are paths of the build host.
#pragma once

#include <algorithm>
#include <string>

namespace pw::test {

// Wine shows the Unix root as drive Z:, so a rooted Unix path gets that drive; every separator
// becomes a backslash. A path that is a Windows one already keeps its meaning.
inline std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
    }
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

} // namespace pw::test
