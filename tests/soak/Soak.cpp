// The agent's soak: one agent in stand-alone mode checks a table of mailboxes again and again
// through its "Check Now!" handler. Some mailboxes fail every check, each in its own way, one is
// silent every n-th check, the rest are healthy (on dovecot when the runner started one); every
// check must reach every mailbox, and after the warm-up the process's handles, GUI objects and
// private bytes must stay within a small allowance.
//
//   pwagent_soak [CHECKS]    the number of checks (else PW_SOAK_CHECKS, else 1000)
//   PW_SOAK_TIMEOUT          seconds per network wait of a mailbox session (default 2)
//   PW_SOAK_REPORT_EVERY     checks between two rows of the table (default a tenth of them)
//   PW_SOAK_WINE_SENDS=1     failed sends keep Wine's own error instead of the one Windows gives
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "SoakServers.h"
#include "agent/PWiseF.h"
#include "agent/pwScheduleF.h"
#include "mail/mspop3.h"
#include "support/AgentTesting.h"
#include "support/DovecotEnv.h"
#include "support/WindowsSendErrors.h"
#include "win/MessagePump.h"

namespace pw::soak {
namespace {

using test::AccountLine;
using test::DovecotEnv;
using test::WriteTextFile;

constexpr int kDefaultChecks = 1000;
constexpr int kDefaultTimeOut = 2;
constexpr int kSilentEvery = 10; // a silent mailbox costs the whole time-out
constexpr int kNewMailEvery = 7; // the check then ends at gamma, the last mailbox
constexpr int kFailedChecksToStop = 10;

// Growth allowed from the end of the warm-up to the end of the run.
constexpr long kHandleAllowance = 16;
constexpr long kGuiObjectAllowance = 8;
constexpr long long kPrivateBytesAllowance = 2 * 1024 * 1024;

constexpr char kTraceName[] = "pw-soak-trace.txt";

// What a check does to one mailbox.
enum class Outcome { NotReached, Failed, LoggedInEmpty, NoNewMail, OneNewMessage, Other };

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

struct CheckPlan {
    int number = 0;
    bool silent = false;  // the flaky server says nothing
    bool newMail = false; // gamma has a new message
};

enum class Role { Refused, Closes, Resets, LongLines, Plain, EmptyBox, Flaky, Fresh };

Outcome Expected(Role role, const CheckPlan& plan) {
    switch (role) {
    case Role::Refused:
    case Role::Closes:
    case Role::Resets:
        return Outcome::Failed;
    case Role::EmptyBox:
        return Outcome::LoggedInEmpty;
    case Role::Flaky:
        return plan.silent ? Outcome::Failed : Outcome::NoNewMail;
    case Role::Fresh:
        return plan.newMail ? Outcome::OneNewMessage : Outcome::NoNewMail;
    case Role::LongLines:
    case Role::Plain:
        break;
    }
    return Outcome::NoNewMail;
}

struct Watched {
    Watched(std::string address, std::string server, std::string user, std::string password,
            Role role)
        : address(std::move(address)), server(std::move(server)), user(std::move(user)),
          password(std::move(password)), role(role) {}

    std::string address;
    std::string server;
    std::string user;
    std::string password;
    Role role;
    // Tallies over the run.
    int asExpected = 0;
    std::map<Outcome, int> seen;
    std::string firstFailure;
};

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

bool Traced(const std::vector<std::string>& trace, const std::string& text) {
    for (const std::string& line : trace)
        if (line == text)
            return true;
    return false;
}

// The process's use of handles, GUI objects and memory. Where the platform's own count is not
// available (Wine answers GetProcessHandleCount with 0, GetGuiResources not at all and
// PrivateUsage with 0), handles are counted by probing, private bytes by walking the address
// space, and GUI objects are left out (-1). Windows are counted always, as a part of the USER
// objects that every platform shows.
struct Usage {
    int checks = 0;
    long handles = 0;
    long gdiObjects = -1;
    long userObjects = -1;
    long windows = 0;
    long long privateBytes = 0;
};

bool handlesProbed = false;
bool privateBytesWalked = false;

long ProbeHandles() {
    constexpr ULONG_PTR kGapToStop = 4096 * 4; // handle values are multiples of 4
    long count = 0;
    ULONG_PTR lastValid = 0;
    for (ULONG_PTR value = 4; value - lastValid < kGapToStop; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++count;
            lastValid = value;
        }
    }
    return count;
}

long long CommittedPrivateBytes() {
    long long total = 0;
    MEMORY_BASIC_INFORMATION region;
    const char* address = nullptr;
    while (VirtualQuery(address, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<long long>(region.RegionSize);
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address)
            break;
        address = next;
    }
    return total;
}

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}

void CountWindowAndChildren(HWND window, long& count) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId())
        return;
    ++count;
    EnumChildWindows(window, CountChild, reinterpret_cast<LPARAM>(&count));
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM count) {
    CountWindowAndChildren(window, *reinterpret_cast<long*>(count));
    return TRUE;
}

// Top-level windows and message-only windows of this process, with their descendants.
long CountWindows() {
    long count = 0;
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
    for (HWND window = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
         window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr))
        CountWindowAndChildren(window, count);
    return count;
}

long GuiObjects(DWORD kind) {
    SetLastError(0);
    const DWORD count = GetGuiResources(GetCurrentProcess(), kind);
    return count == 0 && GetLastError() == ERROR_CALL_NOT_IMPLEMENTED ? -1
                                                                      : static_cast<long>(count);
}

Usage Measure(int checks) {
    Usage usage;
    usage.checks = checks;
    DWORD handles = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handles) && handles > 0) {
        usage.handles = static_cast<long>(handles);
    } else {
        usage.handles = ProbeHandles();
        handlesProbed = true;
    }
    usage.gdiObjects = GuiObjects(GR_GDIOBJECTS);
    usage.userObjects = GuiObjects(GR_USEROBJECTS);
    usage.windows = CountWindows();
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(GetCurrentProcess(),
                             reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) &&
        memory.PrivateUsage > 0) {
        usage.privateBytes = static_cast<long long>(memory.PrivateUsage);
    } else {
        usage.privateBytes = CommittedPrivateBytes();
        privateBytesWalked = true;
    }
    return usage;
}

std::string Count(long long value) {
    return value < 0 ? "n/a" : std::to_string(value);
}

void PrintUsageHeader() {
    std::cout << std::left << std::setw(16) << "" << std::right << std::setw(8) << "checks"
              << std::setw(9) << "handles" << std::setw(7) << "GDI" << std::setw(7) << "USER"
              << std::setw(9) << "windows" << std::setw(16) << "private bytes"
              << "\n";
}

void PrintUsage(const std::string& label, const Usage& u) {
    std::cout << std::left << std::setw(16) << label << std::right << std::setw(8) << u.checks
              << std::setw(9) << u.handles << std::setw(7) << Count(u.gdiObjects) << std::setw(7)
              << Count(u.userObjects) << std::setw(9) << u.windows << std::setw(16)
              << u.privateBytes << std::endl;
}

std::string Signed(long long value) {
    return (value > 0 ? "+" : "") + std::to_string(value);
}

// A whole number from the command line or the environment; the fallback when neither has one.
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

// A folder of its own for the agent's files; the known-ids files are read from the current
// directory, so the soak runs in it.
std::string PrepareFolder() {
    const std::string dir = test::TempDir() + "pw-soak\\";
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

void WriteKnownId(const std::string& user, const std::string& server, const std::string& id) {
    WriteTextFile(user + "@" + server + ".MES", id + ";2026-01-01\r\n");
}

// The last two of the runner's dovecot users: the other tests use the first ones.
const test::DovecotUser& DovecotUser(const DovecotEnv& dovecot, std::size_t which) {
    return dovecot.User(dovecot.Users().size() - 2 + which);
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

std::vector<Watched> WatchedMailboxes(const ServerHost& host,
                                      const std::optional<DovecotEnv>& dovecot) {
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
        const test::DovecotUser& user = DovecotUser(*dovecot, 0);
        dovecot->ClearMailbox(user.name);
        dovecot->Deliver(user.name,
                         "Subject: fetched\r\nMessage-ID: <fetched@soak>\r\n\r\nold\r\n");
        WriteKnownId(user.name, dovecot->Server(), FirstUniqueId(*dovecot, user));
        boxes.push_back(
            {user.name + "@dovecot", dovecot->Server(), user.name, user.password, Role::Plain});
    }
    boxes.push_back(on(kResetter, kResetUser, Role::Resets));
    boxes.push_back(on(kHealthy, kBeta, Role::Plain));
    boxes.push_back(on(kLongLines, kLongUser, Role::LongLines));
    if (dovecot) {
        const test::DovecotUser& user = DovecotUser(*dovecot, 1);
        dovecot->ClearMailbox(user.name);
        boxes.push_back(
            {user.name + "@dovecot", dovecot->Server(), user.name, user.password, Role::EmptyBox});
    }
    boxes.push_back(on(kFlaky, kFlakyUser, Role::Flaky));
    boxes.push_back(on(kFresh, kGamma, Role::Fresh)); // last: new mail ends the check here
    return boxes;
}

// Connections each scripted server takes in one check.
std::array<std::size_t, kServerCount> ExpectedConnections(int check) {
    std::array<std::size_t, kServerCount> expected{};
    expected.fill(1);
    expected[kHealthy] = 2; // alpha and beta; the line without "@" is never contacted
    expected[kCloser] = check == 1 ? 2 : 1; // its close on the run's one CAPA: a new session
    return expected;
}

class Soak {
public:
    Soak(int checks, int timeOut, int reportEvery, const std::string& program)
        : checks_(checks), warmUp_(WarmUp(checks)), timeOut_(timeOut), reportEvery_(reportEvery),
          dir_(PrepareFolder()), host_(program), dovecot_(DovecotEnv::FromEnvironment()) {
        // On before the first trace line of this process (the host has been started without
        // it); each check reads only what it added.
        trace_.emplace(kTraceName);
        if (dovecot_ && dovecot_->Users().size() < 2)
            dovecot_.reset();
        boxes_ = WatchedMailboxes(host_, dovecot_);
        std::string accounts;
        for (const Watched& box : boxes_) {
            accounts += AccountLine(box.address, box.server, box.user, box.password);
            if (box.address == "alpha@x")
                accounts += AccountLine("nobody", box.server, box.user, box.password);
        }
        WriteTextFile(dir_ + "vtMailDa.dat", accounts);
    }

    int Run() {
        PrintSetting();

        TApplication application("Vantiro's Automation Agent");
        AgentEnvironment environment = AgentEnvironment::System({});
        environment.Args = {dir_ + "pwagent.exe", "1"};
        environment.AsteriskSound = [] {};
        environment.RunProgram = [this](const std::string& command, UINT) {
            problems_.push_back("the agent started a program: " + command);
        };
        environment.EndProgram = [this] {
            ended_ = true;
            if (agent_)
                agent_->POPbox.CancelOperation();
        };
        environment.MailboxTimeOut = timeOut_;
        TPlaceHolder agent(application, std::move(environment));
        // Under Wine a failed send says 10054, which makes the socket close by itself; Windows
        // says 10057 and leaves the closing to the agent.
        std::optional<test::WindowsSendErrors> windowsSends;
        if (windowsSends_)
            windowsSends.emplace(test::WindowsSendErrors::Mode::FailuresAsWindows);
        agent_ = &agent;
        TpwSchedule schedule(application.Handle());
        agent.SetStatusWindow(&schedule);
        // No client program here: the launcher's failure ends the wait for it.
        agent.shoot.OnFinished = nullptr;

        PrintUsageHeader();
        ProcessMessages();
        const Usage start = Measure(0);
        PrintUsage("start", start);
        Usage warmedUp = start;
        Usage last = start;
        lastSessions_ = host_.CountSessions();

        int failedChecks = 0;
        int done = 0;
        const DWORD began = GetTickCount();
        for (int n = 1; n <= checks_ && !ended_; ++n) {
            const CheckPlan plan{n, n % kSilentEvery == 0, n % kNewMailEvery == 0};
            host_.Prepare(n, plan.silent, plan.newMail);
            const size_t mark = trace_->Mark();
            agent.CheckNow1Click();
            if (!CheckWentRight(plan, trace_->LinesSince(mark)))
                ++failedChecks;
            done = n;
            if (n == warmUp_ || n % reportEvery_ == 0 || n == checks_) {
                ProcessMessages();
                last = Measure(n);
                if (n == warmUp_)
                    warmedUp = last;
                PrintUsage(n == warmUp_ ? "after warm-up" : n == checks_ ? "end" : "", last);
            }
            if (failedChecks >= kFailedChecksToStop) {
                problems_.push_back("stopped after " + std::to_string(failedChecks) +
                                    " checks that went wrong");
                break;
            }
        }
        if (done != last.checks) {
            ProcessMessages();
            last = Measure(done);
            PrintUsage("end", last);
        }
        const DWORD seconds = (GetTickCount() - began) / 1000;
        if (ended_)
            problems_.push_back("the agent ended itself after check " + std::to_string(done));
        agent.SetStatusWindow(nullptr);
        agent_ = nullptr;

        const bool grew = Growth(warmedUp, last);
        PrintMailboxes(done);
        std::cout << done << " checks in " << seconds << " s, " << failedChecks << " went wrong"
                  << (failedChecks > 0 ? " (listed above)" : "") << "\n";
        for (const std::string& problem : problems_)
            std::cout << "  " << problem << "\n";
        const bool passed = !grew && failedChecks == 0 && problems_.empty() && done == checks_;
        std::cout << (passed ? "PASS" : "FAIL") << std::endl;
        return passed ? 0 : 1;
    }

private:
    void PrintSetting() const {
        std::cout << "pwagent soak: " << checks_ << " checks in one agent (stand-alone mode), "
                  << "warm-up " << warmUp_ << ", time-out " << timeOut_ << " s per network wait,\n"
                  << "flaky mailbox silent every " << kSilentEvery << "th check, new mail for "
                  << "gamma every " << kNewMailEvery << "th check, failed sends answer "
                  << (windowsSends_ ? "as on Windows (10057)" : "as under Wine") << "\n";
        if (dovecot_)
            std::cout << "dovecot on " << dovecot_->Server() << ": "
                      << DovecotUser(*dovecot_, 0).name << " (one fetched message), "
                      << DovecotUser(*dovecot_, 1).name << " (empty)\n";
        else
            Banner("NO DOVECOT (PW_DOVECOT_PORT, PW_DOVECOT_DIR, PW_DOVECOT_USERS unset): "
                   "the healthy mailboxes are all on the scripted server");
        std::cout << "mailboxes in table order:";
        for (const Watched& box : boxes_)
            std::cout << " " << box.address;
        std::cout << std::endl;
    }

    bool CheckWentRight(const CheckPlan& plan, const std::vector<std::string>& trace) {
        std::vector<std::string> wrong;
        std::string notReached;
        if (!Traced(trace, "check due"))
            wrong.push_back("no check ran");
        for (Watched& box : boxes_) {
            std::string failure;
            const Outcome expected = Expected(box.role, plan);
            const Outcome got = Observe(trace, box, failure);
            ++box.seen[got];
            if (got == Outcome::Failed && box.seen[got] == 1)
                box.firstFailure = failure;
            if (got == expected)
                ++box.asExpected;
            else if (got == Outcome::NotReached)
                notReached += " " + box.address;
            else
                wrong.push_back(box.address + " " + OutcomeText(got) + " (expected " +
                                OutcomeText(expected) + (failure.empty() ? "" : ": " + failure) +
                                ")");
        }
        if (!notReached.empty())
            wrong.push_back("not reached:" + notReached);
        if (Traced(trace, "start client: CXsystem.exe /PWGM") != plan.newMail)
            wrong.push_back(plan.newMail ? "the client was not started for gamma's new mail"
                                         : "the client was started without new mail");

        const ServerHost::Sessions sessions = host_.CountSessions();
        const auto expected = ExpectedConnections(plan.number);
        for (int s = 0; s < kServerCount; ++s) {
            const std::size_t accepted = sessions.accepted[s] - lastSessions_.accepted[s];
            if (accepted != expected[s])
                wrong.push_back(std::string(ServerName(Server(s))) +
                                " server: " + std::to_string(accepted) + " connections (expected " +
                                std::to_string(expected[s]) + ")");
            if (sessions.finished[s] != sessions.accepted[s])
                wrong.push_back(std::string(ServerName(Server(s))) + " server: " +
                                std::to_string(sessions.accepted[s] - sessions.finished[s]) +
                                " session(s) still open after the check");
        }
        lastSessions_ = sessions;

        if (wrong.empty())
            return true;
        std::string line = "check " + std::to_string(plan.number) + ":";
        for (const std::string& w : wrong)
            line += " " + w + ";";
        std::cout << line << std::endl;
        return false;
    }

    // True when something grew beyond its allowance after the warm-up.
    bool Growth(const Usage& warmedUp, const Usage& end) const {
        struct Row {
            const char* name;
            long long before;
            long long after;
            long long allowance;
        };
        const Row rows[] = {
            {"handles", warmedUp.handles, end.handles, kHandleAllowance},
            {"GDI objects", warmedUp.gdiObjects, end.gdiObjects, kGuiObjectAllowance},
            {"USER objects", warmedUp.userObjects, end.userObjects, kGuiObjectAllowance},
            {"windows", warmedUp.windows, end.windows, kGuiObjectAllowance},
            {"private bytes", warmedUp.privateBytes, end.privateBytes, kPrivateBytesAllowance}};
        bool grew = false;
        std::cout << (warmedUp.checks == 0 ? "growth from the start (the run ended before the "
                                             "warm-up; allowed):"
                                           : "growth after warm-up (allowed):");
        for (const Row& row : rows) {
            if (row.before < 0 || row.after < 0) {
                std::cout << " " << row.name << " n/a;";
                continue;
            }
            const long long growth = row.after - row.before;
            std::cout << " " << row.name << " " << Signed(growth) << " (+" << row.allowance << ");";
            grew |= growth > row.allowance;
        }
        std::cout << (grew ? "  -- TOO MUCH" : "") << "\n";
        if (handlesProbed)
            std::cout << "  handles: GetProcessHandleCount gave none; counted by probing\n";
        if (warmedUp.gdiObjects < 0 || warmedUp.userObjects < 0)
            std::cout << "  GDI/USER objects: GetGuiResources is not implemented here\n";
        if (privateBytesWalked)
            std::cout << "  private bytes: PrivateUsage gave none; committed private memory "
                         "summed over the address space\n";
        std::cout << std::flush;
        return grew;
    }

    void PrintMailboxes(int checks) const {
        std::cout << "mailbox outcomes over " << checks << " checks:\n";
        for (const Watched& box : boxes_) {
            std::cout << "  " << std::left << std::setw(20) << box.address << std::right
                      << std::setw(6) << box.asExpected << " as expected;";
            for (const auto& [outcome, count] : box.seen)
                std::cout << " " << OutcomeText(outcome) << " " << count;
            if (box.seen.count(Outcome::Failed))
                std::cout << "; first failure: "
                          << (box.firstFailure.empty() ? "(empty message)" : box.firstFailure);
            std::cout << "\n";
        }
    }

    // A tenth of the run, but at least two of each kind of check: the first start of the
    // client's launcher and the first time-out set up things that stay.
    static int WarmUp(int checks) {
        return std::min(checks, std::max(checks / 10, 2 * std::max(kSilentEvery, kNewMailEvery)));
    }

    int checks_;
    int warmUp_;
    int timeOut_;
    int reportEvery_;
    bool windowsSends_ = std::getenv("PW_SOAK_WINE_SENDS") == nullptr;
    std::string dir_;
    ServerHost host_;
    std::optional<test::TraceFile> trace_;
    std::optional<DovecotEnv> dovecot_;
    std::vector<Watched> boxes_;
    ServerHost::Sessions lastSessions_;
    std::vector<std::string> problems_;
    TPlaceHolder* agent_ = nullptr;
    bool ended_ = false;
};

std::string ProgramPath() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        throw std::runtime_error("cannot find this program's path");
    return std::string(path, n);
}

} // namespace
} // namespace pw::soak

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == pw::soak::kServerHostArgument)
        return pw::soak::RunServerHost();
    try {
        using pw::soak::Setting;
        const int checks = Setting(argc > 1 ? argv[1] : std::getenv("PW_SOAK_CHECKS"),
                                   "count of checks", pw::soak::kDefaultChecks, 1000000);
        const int timeOut =
            Setting(std::getenv("PW_SOAK_TIMEOUT"), "time-out", pw::soak::kDefaultTimeOut, 240);
        const int reportEvery = Setting(std::getenv("PW_SOAK_REPORT_EVERY"), "report interval",
                                        std::max(1, checks / 10), 1000000);
        pw::soak::Soak soak(checks, timeOut, reportEvery, pw::soak::ProgramPath());
        return soak.Run();
    } catch (const std::exception& e) {
        std::cout << "soak failed: " << e.what() << std::endl;
        return 2;
    }
}
