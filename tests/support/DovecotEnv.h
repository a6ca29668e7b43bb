// The real POP3 server of the tests: the test runner starts dovecot on 127.0.0.1 (see
// scripts/dovecot.sh) and names it in PW_DOVECOT_PORT, PW_DOVECOT_DIR and PW_DOVECOT_USERS
// ("name:password" separated by blanks). Tests derive from DovecotTest and skip without it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/WindowsPath.h"
#include "win/Handles.h"

namespace pw::test {

struct DovecotUser {
    std::string name;
    std::string password;
};

class DovecotEnv {
public:
    // Empty when the runner started no dovecot.
    static std::optional<DovecotEnv> FromEnvironment() {
        const char* port = std::getenv("PW_DOVECOT_PORT");
        const char* dir = std::getenv("PW_DOVECOT_DIR");
        const char* users = std::getenv("PW_DOVECOT_USERS");
        if (!port || !dir || !users) {
            return std::nullopt;
        }
        DovecotEnv env;
        char* end = nullptr;
        unsigned long value = std::strtoul(port, &end, 10);
        if (end == port || *end != '\0' || value == 0 || value > 65535) {
            return std::nullopt;
        }
        env.port_ = static_cast<uint16_t>(value);
        env.dir_ = WindowsPath(dir);
        // Maildir() adds its own separators.
        while (!env.dir_.empty() && env.dir_.back() == '\\') {
            env.dir_.pop_back();
        }
        std::istringstream list(users);
        std::string entry;
        while (list >> entry) {
            std::size_t colon = entry.find(':');
            if (colon != std::string::npos) {
                env.users_.push_back({entry.substr(0, colon), entry.substr(colon + 1)});
            }
        }
        if (env.users_.empty()) {
            return std::nullopt;
        }
        return env;
    }

    // Points a POP3 client at one of the users, with a short time-out.
    template <typename Pop3Client> void LogInAs(Pop3Client& pop, const DovecotUser& user) const {
        pop.SetWinsockLoaded(true);
        pop.SetTimeOut(30);
        pop.Server = Server();
        pop.UserName = user.name;
        pop.Password = user.password;
    }

    uint16_t Port() const { return port_; }
    // The value for a POP3 client's server setting: "127.0.0.1:port".
    std::string Server() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::vector<DovecotUser>& Users() const { return users_; }
    const DovecotUser& User(std::size_t index) const {
        if (index >= users_.size()) {
            throw std::out_of_range("the runner set up only " + std::to_string(users_.size()) +
                                    " dovecot users");
        }
        return users_[index];
    }

    std::string Maildir(const std::string& user) const {
        return dir_ + "\\home\\" + user + "\\Maildir";
    }

    // Removes every message of the mailbox, read or not.
    void ClearMailbox(const std::string& user) const {
        for (const char* sub : {"\\new", "\\cur"}) {
            std::string folder = Maildir(user) + sub;
            WIN32_FIND_DATAA found;
            HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
            if (search == INVALID_HANDLE_VALUE) {
                throw std::runtime_error("no Maildir folder " + folder);
            }
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    DeleteFileA((folder + "\\" + found.cFileName).c_str());
                }
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }

    // Adds a message (headers, an empty line, the body; LF or CR LF line ends) as new mail.
    // Written under tmp\ and renamed, so that the server never sees half a message.
    void Deliver(const std::string& user, const std::string& text) const {
        static std::atomic<unsigned> counter{0};
        std::string name = std::to_string(GetTickCount()) + ".P" +
                           std::to_string(GetCurrentProcessId()) + "N" + std::to_string(++counter) +
                           ".pwtest";
        std::string temporary = Maildir(user) + "\\tmp\\" + name;
        UniqueFile file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            throw std::runtime_error("cannot create " + temporary);
        }
        DWORD written = 0;
        BOOL ok =
            WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        file.reset();
        if (!ok || written != text.size() ||
            !MoveFileA(temporary.c_str(), (Maildir(user) + "\\new\\" + name).c_str())) {
            throw std::runtime_error("cannot deliver " + temporary);
        }
    }

private:
    uint16_t port_ = 0;
    std::string dir_;
    std::vector<DovecotUser> users_;
};

// A test against the runner's dovecot; skipped when there is none.
class DovecotTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::optional<DovecotEnv> env = DovecotEnv::FromEnvironment();
        if (!env) {
            GTEST_SKIP() << "no dovecot (PW_DOVECOT_PORT, PW_DOVECOT_DIR, PW_DOVECOT_USERS unset)";
        }
        dovecot = *env;
    }
    DovecotEnv dovecot;
};

} // namespace pw::test
