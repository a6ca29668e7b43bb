// What the soak and the fault-injection run share; see LongRun.h.
#include "LongRun.h"

#include <windows.h>

#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <stdexcept>

#include "mail/mspop3.h"
#include "support/AgentTesting.h"

namespace pw::soak {

using test::DovecotEnv;
using test::WriteTextFile;

namespace {

// The hosts of the TLS mailboxes: dovecot by STLS under the name "localhost" (looked up),
// dovecot's POP3S and the front with the expired certificate under two other spellings of the
// loopback address, each a host of its own for "pwagent.ini".
constexpr char kStlsHost[] = "localhost";
constexpr char kImplicitHost[] = "127.1";
constexpr char kRefusedCertificateHost[] = "127.0.1";

void WriteKnownId(const std::string& user, const std::string& server, const std::string& id) {
    WriteTextFile(user + "@" + server + ".MES", id + ";2026-01-01\r\n");
}

// Dovecot's own UIDL id of a mailbox's first message, as a client would have recorded it.
std::string FirstUniqueId(const DovecotEnv& dovecot, const test::DovecotUser& user) {
    TmsRemotePOP pop;
    dovecot.LogInAs(pop, user);
    pop.OpenMailbox();
    const std::string id = pop.GetUniqueId(0, "");
    pop.CloseMailbox();
    if (id.empty())
        throw std::runtime_error("dovecot gave no UIDL id for " + user.name);
    return id;
}

} // namespace

const char* OutcomeText(Outcome outcome) {
    switch (outcome) {
    case Outcome::NotReached:
        return "not reached";
    case Outcome::Failed:
        return "failed";
    case Outcome::LoggedInEmpty:
        return "empty";
    case Outcome::NoNewMail:
        return "no new mail";
    case Outcome::OneNewMessage:
        return "1 new";
    case Outcome::Other:
        break;
    }
    return "other";
}

Outcome Expected(Role role, bool silent, bool newMail) {
    switch (role) {
    case Role::Refused:
    case Role::Closes:
    case Role::Resets:
        return Outcome::Failed;
    case Role::EmptyBox:
        return Outcome::LoggedInEmpty;
    case Role::Flaky:
        return silent ? Outcome::Failed : Outcome::NoNewMail;
    case Role::Fresh:
        return newMail ? Outcome::OneNewMessage : Outcome::NoNewMail;
    case Role::LongLines:
    case Role::Plain:
        break;
    }
    return Outcome::NoNewMail;
}

// What the check's trace says about one mailbox: the agent's own line for it, else the mail
// component's login line.
Outcome Observe(const std::vector<std::string>& trace, const Watched& box, std::string& failure) {
    const std::string failedPrefix = "mailbox " + box.address + " failed: ";
    const std::string countPrefix = "mailbox " + box.address + ": ";
    const std::string loginPrefix = "POP3 " + box.user + "@" + box.server + " (";
    bool loggedInEmpty = false;
    for (const std::string& line : trace) {
        if (line.compare(0, failedPrefix.size(), failedPrefix) == 0) {
            failure = line.substr(failedPrefix.size());
            return Outcome::Failed;
        }
        if (line.compare(0, countPrefix.size(), countPrefix) == 0) {
            const std::string count = line.substr(countPrefix.size());
            return count == "0 new"   ? Outcome::NoNewMail
                   : count == "1 new" ? Outcome::OneNewMessage
                                      : Outcome::Other;
        }
        if (line.compare(0, loginPrefix.size(), loginPrefix) == 0 &&
            line.find("): logged in, STAT 0 ") != std::string::npos)
            loggedInEmpty = true;
    }
    return loggedInEmpty ? Outcome::LoggedInEmpty : Outcome::NotReached;
}

void Count(Watched& box, Outcome got, bool asExpected, const std::string& failure) {
    ++box.seen[got];
    if (got == Outcome::Failed && box.seen[got] == 1)
        box.firstFailure = failure;
    if (asExpected)
        ++box.asExpected;
}

void PrintMailboxOutcomes(const std::vector<Watched>& boxes, int checks) {
    std::cout << "mailbox outcomes over " << checks << " checks:\n";
    for (const Watched& box : boxes) {
        std::cout << "  " << std::left << std::setw(20) << box.address << std::right << std::setw(6)
                  << box.asExpected << " as expected;";
        for (const auto& [outcome, count] : box.seen)
            std::cout << " " << OutcomeText(outcome) << " " << count;
        if (box.seen.count(Outcome::Failed))
            std::cout << "; first failure: "
                      << (box.firstFailure.empty() ? "(empty message)" : box.firstFailure);
        std::cout << "\n";
    }
}

bool Traced(const std::vector<std::string>& trace, const std::string& text) {
    for (const std::string& line : trace)
        if (line == text)
            return true;
    return false;
}

AgentEnvironment RunEnvironment(const std::string& dir, int timeOut,
                                std::function<void(const std::string&)> problem,
                                std::function<TPlaceHolder*()> ended) {
    AgentEnvironment environment = AgentEnvironment::System({});
    environment.Args = {dir + "pwagent.exe", "1"};
    environment.AsteriskSound = [] {};
    environment.RunProgram = [problem](const std::string& command, UINT) {
        problem("the agent started a program: " + command);
    };
    environment.EndProgram = [ended] {
        if (TPlaceHolder* agent = ended())
            agent->POPbox.CancelOperation();
    };
    environment.MailboxTimeOut = timeOut;
    return environment;
}

int Setting(const char* text, const char* what, int fallback, int largest) {
    if (!text)
        return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 1 || value > largest)
        throw std::runtime_error(std::string("not a valid ") + what + ": " + text);
    return static_cast<int>(value);
}

void Banner(const std::string& text) {
    const std::string stars(text.size() + 8, '*');
    std::cout << stars << "\n*** " << text << " ***\n" << stars << std::endl;
}

std::string PrepareRunFolder(const std::string& name) {
    const std::string dir = test::TempDir() + name + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((dir + "*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do
            DeleteFileA((dir + entry.cFileName).c_str());
        while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    SetCurrentDirectoryA(dir.c_str());
    WriteTextFile(dir + "PWise.flg", "0\r\n");
    return dir;
}

std::string TlsSettings() {
    return std::string("[Server ") + kStlsHost + "]\r\nTLS=stls\r\nAllowClearPasswords=no\r\n" +
           "[Server " + kImplicitHost + "]\r\nTLS=implicit\r\n" + "[Server " +
           kRefusedCertificateHost + "]\r\nTLS=implicit\r\n";
}

std::vector<Watched> WatchedMailboxes(const ServerHost& host,
                                      const std::optional<DovecotEnv>& dovecot,
                                      std::size_t firstUser,
                                      const std::optional<test::TlsEnv>& tls) {
    const auto scripted = [&host](Server server) {
        return "127.0.0.1:" + std::to_string(host.Port(server));
    };
    const auto on = [&](Server server, const ScriptedUser& user, Role role) {
        WriteKnownId(user.name, scripted(server), user.knownId);
        return Watched{std::string(user.name) + "@x", scripted(server), user.name, user.password,
                       role};
    };
    std::vector<Watched> boxes;
    boxes.push_back({"refused@x", "127.0.0.1:" + std::to_string(host.RefusedPort()), "refused",
                     "pw-refused", Role::Refused});
    boxes.push_back(on(kHealthy, kAlpha, Role::Plain));
    boxes.push_back(on(kCloser, kCloserUser, Role::Closes));
    if (dovecot) {
        const test::DovecotUser& user = dovecot->User(firstUser);
        dovecot->ClearMailbox(user.name);
        dovecot->Deliver(user.name,
                         "Subject: fetched\r\nMessage-ID: <fetched@soak>\r\n\r\nold\r\n");
        const std::string id = FirstUniqueId(*dovecot, user);
        WriteKnownId(user.name, dovecot->Server(), id);
        boxes.push_back(
            {user.name + "@dovecot", dovecot->Server(), user.name, user.password, Role::Plain});
        if (tls) {
            const std::string stls = kStlsHost + (":" + std::to_string(dovecot->Port()));
            const std::string implicit =
                kImplicitHost + (":" + std::to_string(tls->dovecotTlsPort));
            WriteKnownId(user.name, stls, id);
            WriteKnownId(user.name, implicit, id);
            boxes.push_back(
                {user.name + "@stls", stls, user.name, user.password, Role::Plain, true});
            boxes.push_back(
                {user.name + "@pop3s", implicit, user.name, user.password, Role::Plain, true});
        }
    }
    if (tls)
        boxes.push_back({"expired@x",
                         kRefusedCertificateHost + (":" + std::to_string(tls->expired)), "expired",
                         "pw-expired", Role::Refused, true});
    boxes.push_back(on(kResetter, kResetUser, Role::Resets));
    boxes.push_back(on(kHealthy, kBeta, Role::Plain));
    boxes.push_back(on(kLongLines, kLongUser, Role::LongLines));
    if (dovecot) {
        const test::DovecotUser& user = dovecot->User(firstUser + 1);
        dovecot->ClearMailbox(user.name);
        boxes.push_back(
            {user.name + "@dovecot", dovecot->Server(), user.name, user.password, Role::EmptyBox});
    }
    boxes.push_back(on(kFlaky, kFlakyUser, Role::Flaky));
    boxes.push_back(on(kFresh, kGamma, Role::Fresh)); // last: new mail ends the check here
    return boxes;
}

std::array<std::size_t, kServerCount> ExpectedConnections(int check) {
    std::array<std::size_t, kServerCount> expected{};
    expected.fill(1);
    expected[kHealthy] = 2; // alpha and beta; the line without "@" is never contacted
    expected[kCloser] = check == 1 ? 2 : 1; // its close on the run's one CAPA: a new session
    return expected;
}

std::string ProgramPath() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        throw std::runtime_error("cannot find this program's path");
    return std::string(path, n);
}

} // namespace pw::soak
