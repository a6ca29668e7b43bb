// Helpers of the support components' tests: bounded waits and throw-away directories.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "win/Handles.h"
#include "win/MessagePump.h"

namespace pw::testing {

// Pumps messages until done() holds or boundMs passes; returns done().
inline bool WaitFor(const std::function<bool()>& done, DWORD boundMs = 10000) {
    const DWORD start = GetTickCount();
    WaitUntil([&] { return done() || GetTickCount() - start >= boundMs; });
    return done();
}

inline std::string ReadFileText(const std::string& path) {
    std::string text;
    const UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[4096];
    DWORD n = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    return text;
}

inline bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A fresh empty directory under the temporary folder, removed with its files at the end.
class TempDirectory {
public:
    TempDirectory() {
        static int counter = 0;
        char base[MAX_PATH + 1] = {};
        GetTempPathA(MAX_PATH, base);
        char longBase[MAX_PATH + 1] = {};
        if (GetLongPathNameA(base, longBase, MAX_PATH) == 0)
            lstrcpynA(longBase, base, MAX_PATH);
        path_ = std::string(longBase) + "pwsupport-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    ~TempDirectory() {
        for (const std::string& name : Files())
            DeleteFileA((path_ + "\\" + name).c_str());
        RemoveDirectoryA(path_.c_str());
    }

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

    // The names of the files in the directory.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return names;
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..")
                names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }

private:
    std::string path_;
};

} // namespace pw::testing
