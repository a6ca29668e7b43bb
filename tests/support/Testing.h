// The helpers every Windows test program shares: one bounded wait that pumps the queue, whole
// files, one kind of throw-away folder, and environment variables put back as they were.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/Password.h"
#include "win/Handles.h"
#include "win/MessagePump.h"

namespace pw::test {

// Long enough that only a fault reaches it on a loaded machine.
constexpr DWORD kWaitLimitMs = 60000;

// How often PumpUntil looks again without a message: tests wait for files and processes that
// send none.
constexpr DWORD kPollMs = 50;

// Pumps this thread's queue until done() or the bound; false when the bound came first, so that
// a fault fails the test instead of hanging it.
inline bool PumpUntil(const std::function<bool()>& done, DWORD limitMs = kWaitLimitMs) {
    const DWORD start = GetTickCount();
    WaitUntil([&] { return done() || GetTickCount() - start >= limitMs; }, kPollMs);
    return done();
}

// Pumps for limitMs; true when happened() stayed false all that time: for what must not happen.
inline bool NeverWithin(const std::function<bool()>& happened, DWORD limitMs) {
    return !PumpUntil(happened, limitMs);
}

inline std::string TempDir() {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    char longTemp[MAX_PATH + 1] = {};
    if (GetLongPathNameA(temp, longTemp, MAX_PATH) == 0)
        lstrcpynA(longTemp, temp, MAX_PATH);
    return longTemp;
}

// The file from byte offset on (the whole file by default), shared with a writer that still
// has it open; empty when it cannot be read.
inline std::string ReadAll(const std::string& path, size_t offset = 0) {
    std::string text;
    const UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(offset);
    if (file && offset > 0 && !SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN))
        return text;
    char buffer[4096];
    DWORD n = 0;
    while (file && ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    return text;
}

inline void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline void AppendTextFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

inline bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Deletes a folder with everything in it.
inline void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = folder + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
}

// The one kind of throw-away folder of the tests: fresh and empty under the temporary folder,
// named after the running test (when there is one) and unique in the process, removed with
// everything in it at the end.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "pw-") {
        static int serial = 0;
        std::string name;
        if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info()) {
            name = std::string(test->name()) + "-";
            std::replace(name.begin(), name.end(), '/', '-'); // a parameterised test's "Name/1"
        }
        path_ = TempDir() + prefix + name + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++serial);
        RemoveTree(path_);
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() { RemoveTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Without a trailing backslash.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "\\" + name; }

    // The names of the files and folders in it.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        const HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
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

// Makes a folder the current directory for the scope; the old one comes back at its end.
class CurrentDirectoryScope {
public:
    explicit CurrentDirectoryScope(const std::string& folder) {
        GetCurrentDirectoryA(MAX_PATH, oldDir_);
        SetCurrentDirectoryA(folder.c_str());
    }
    ~CurrentDirectoryScope() { SetCurrentDirectoryA(oldDir_); }
    CurrentDirectoryScope(const CurrentDirectoryScope&) = delete;
    CurrentDirectoryScope& operator=(const CurrentDirectoryScope&) = delete;

private:
    char oldDir_[MAX_PATH + 1] = {};
};

// One watched account as the client writes it: the password in its stored form.
// Field 6 "True" leaves the mailbox unwatched.
inline std::string AccountLine(const std::string& address, const std::string& server,
                               const std::string& user = "one", const std::string& password = "pw",
                               const std::string& unwatched = "False") {
    return "1^" + address + "^" + server + "^" + UnscramblePassword(password) + "^^" + unwatched +
           "^^" + user + "\r\n";
}

// Sets an environment variable (or removes it, for nullopt) for the scope and puts the old
// value, or its absence, back at the end.
class ScopedEnvironmentVariable {
public:
    ScopedEnvironmentVariable(std::string name, const std::optional<std::string>& value)
        : name_(std::move(name)) {
        char buffer[32768];
        const DWORD n = GetEnvironmentVariableA(name_.c_str(), buffer, sizeof buffer);
        if (n > 0 && n < sizeof buffer)
            old_ = std::string(buffer, n);
        Set(value);
    }
    ~ScopedEnvironmentVariable() { Set(old_); }
    ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
    ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

private:
    void Set(const std::optional<std::string>& value) const {
        SetEnvironmentVariableA(name_.c_str(), value ? value->c_str() : nullptr);
    }
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace pw::test
