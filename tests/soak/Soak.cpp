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

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "LongRun.h"
#include "SoakServers.h"
#include "agent/PWiseF.h"
#include "agent/pwScheduleF.h"
#include "mail/mspop3.h"
#include "support/AgentTesting.h"
#include "support/DovecotEnv.h"
#include "support/ProcessUsage.h"
#include "support/SspiCalls.h"
#include "support/TlsEnv.h"
#include "support/WindowsSendErrors.h"
#include "win/MessagePump.h"

namespace pw::soak {
namespace {

using test::AccountLine;
using test::DovecotEnv;
using test::GrewTooMuch;
using test::MeasureUsage;
using test::PrintUsage;
using test::PrintUsageHeader;
using test::Usage;
using test::WriteTextFile;

constexpr int kDefaultChecks = 1000;
constexpr int kDefaultTimeOut = 2;
constexpr int kSilentEvery = 10; // a silent mailbox costs the whole time-out
constexpr int kNewMailEvery = 7; // the check then ends at gamma, the last mailbox
constexpr int kFailedChecksToStop = 10;

constexpr char kTraceName[] = "pw-soak-trace.txt";

// What a check is to bring.
struct CheckPlan {
    int number = 0;
    bool silent = false;  // the flaky server says nothing
    bool newMail = false; // gamma has a new message
};

class Soak {
public:
    Soak(int checks, int timeOut, int reportEvery, const std::string& program)
        : checks_(checks), warmUp_(WarmUp(checks)), timeOut_(timeOut), reportEvery_(reportEvery),
          dir_(PrepareRunFolder("pw-soak")), host_(program),
          dovecot_(DovecotEnv::FromEnvironment()), tls_(test::TlsEnv::FromEnvironment()) {
        // On before the first trace line of this process (the host has been started without
        // it); each check reads only what it added.
        trace_.emplace(kTraceName);
        if (dovecot_ && dovecot_->Users().size() < 2)
            dovecot_.reset();
        if (!dovecot_)
            tls_.reset();
        boxes_ = WatchedMailboxes(host_, dovecot_, FirstDovecotUser(), tls_);
        if (tls_)
            WriteTextFile(dir_ + "pwagent.ini", TlsSettings());
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
        AgentEnvironment environment = RunEnvironment(
            dir_, timeOut_, [this](const std::string& problem) { problems_.push_back(problem); },
            [this] {
                ended_ = true;
                return agent_;
            });
        TPlaceHolder agent(application, std::move(environment));
        // Under Wine a failed send says 10054, which makes the socket close by itself; Windows
        // says 10057 and leaves the closing to the agent.
        std::optional<test::WindowsSendErrors> windowsSends;
        if (windowsSends_)
            windowsSends.emplace(test::WindowsSendErrors::Mode::FailuresAsWindows);
        // Every credentials and context handle of the TLS sessions is counted.
        std::optional<test::SspiCalls> sspi;
        if (tls_)
            sspi.emplace();
        agent_ = &agent;
        TpwSchedule schedule(application.Handle());
        agent.SetStatusWindow(&schedule);
        // No client program here: the launcher's failure ends the wait for it.
        agent.shoot.OnFinished = nullptr;

        PrintUsageHeader();
        ProcessMessages();
        const Usage start = MeasureUsage(0);
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
                last = MeasureUsage(n);
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
            last = MeasureUsage(done);
            PrintUsage("end", last);
        }
        const DWORD seconds = (GetTickCount() - began) / 1000;
        if (ended_)
            problems_.push_back("the agent ended itself after check " + std::to_string(done));
        agent.SetStatusWindow(nullptr);
        agent_ = nullptr;

        const bool grew = GrewTooMuch(warmedUp, last);
        PrintMailboxOutcomes(boxes_, done);
        if (tls_)
            std::cout << tlsSessions_ << " TLS sessions established, " << certificatesRefused_
                      << " certificates refused; Secure Channel handles: "
                      << test::SspiCalls::CredentialsAcquired() << " credentials acquired ("
                      << test::SspiCalls::LiveCredentials() << " held at the end), "
                      << test::SspiCalls::ContextsMade() << " contexts made ("
                      << test::SspiCalls::LiveContexts() << " left)\n";
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
                      << dovecot_->User(FirstDovecotUser()).name << " (one fetched message), "
                      << dovecot_->User(FirstDovecotUser() + 1).name << " (empty)\n";
        else
            Banner("NO DOVECOT (PW_DOVECOT_PORT, PW_DOVECOT_DIR, PW_DOVECOT_USERS unset): "
                   "the healthy mailboxes are all on the scripted server");
        if (tls_)
            std::cout << "TLS: dovecot by STLS and by POP3S, and the front whose certificate "
                         "expired (refused every check)\n";
        else if (dovecot_)
            Banner("NO TLS PEERS (PW_DOVECOT_TLS_PORT, PW_TLS_FRONT_* unset): no TLS mailboxes");
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
        // A session's context ends with it; the credentials are the process's one handle.
        if (test::SspiCalls::LiveContexts() != 0 || test::SspiCalls::LiveCredentials() > 1)
            wrong.push_back(std::to_string(test::SspiCalls::LiveContexts()) + " TLS contexts and " +
                            std::to_string(test::SspiCalls::LiveCredentials()) +
                            " credentials still held");
        for (const std::string& line : trace) {
            if (line.find(": TLS established in ") != std::string::npos)
                ++tlsSessions_;
            if (line.compare(0, 8, "mailbox ") == 0 &&
                line.find("(ECertificateError)") != std::string::npos)
                ++certificatesRefused_;
        }
        for (Watched& box : boxes_) {
            std::string failure;
            const Outcome expected = Expected(box.role, plan.silent, plan.newMail);
            const Outcome got = Observe(trace, box, failure);
            Count(box, got, got == expected, failure);
            if (got == expected)
                continue;
            if (got == Outcome::NotReached)
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

    // The last two of the runner's dovecot users: the other tests use the first ones.
    std::size_t FirstDovecotUser() const { return dovecot_->Users().size() - 2; }

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
    std::optional<test::TlsEnv> tls_;
    std::vector<Watched> boxes_;
    ServerHost::Sessions lastSessions_;
    std::vector<std::string> problems_;
    TPlaceHolder* agent_ = nullptr;
    bool ended_ = false;
    int tlsSessions_ = 0;
    int certificatesRefused_ = 0;
};

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
