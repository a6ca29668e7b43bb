// Helpers shared by the tests that drive the agent: temporary folders, whole-file reads and
// writes, accounts-file lines, and the diagnostic trace the agent writes.
#pragma once

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/Password.h"

namespace pw::test {

inline std::string TempDir() {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    return temp;
}

inline std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline void AppendTextFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::app) << text;
}

// One watched account as the client writes it: the password in its stored form.
inline std::string AccountLine(const std::string& address, const std::string& server,
                               const std::string& user = "one",
                               const std::string& password = "pw") {
    return "1^" + address + "^" + server + "^" + UnscramblePassword(password) + "^^False^^" + user +
           "\r\n";
}

// The agent's trace: switched on for the whole test program at its first use, so call it before
// the first agent starts. Lines are read back without their time stamps.
class TraceFile {
public:
    explicit TraceFile(const std::string& name) : path_(TempDir() + name) {
        DeleteFileA(path_.c_str());
        SetEnvironmentVariableA("PWAGENT_TRACE", path_.c_str());
    }
    size_t Mark() const { return ReadAll(path_).size(); }
    std::vector<std::string> LinesSince(size_t mark) const {
        std::vector<std::string> lines;
        std::istringstream in(ReadAll(path_).substr(mark));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(line.size() > kStampLength ? line.substr(kStampLength) : line);
        }
        return lines;
    }

private:
    static constexpr size_t kStampLength = 13; // "hh:mm:ss.zzz "
    std::string path_;
};

} // namespace pw::test
