// The fault-injection run: one agent in this process at a time (a new one every `life` checks,
// each start-up with its own faults), stand-alone mode, injected clocks, the soak's mailboxes,
// and for every check a plan from its own seed. After every check it asserts what must hold
// whatever failed: the check ended within its bounds, every mailbox after a failed one was
// reached, nothing escaped to the exception handler that was not meant to, the tray and the
// minute tick are at rest, the tray message and "CLOSE" were answered, no socket, TLS context
// or dial-up line is left behind; and over the run that the process does not grow.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "FaultPlan.h"
#include "LongRun.h"
#include "SoakServers.h"
#include "agent/PWiseF.h"
#include "agent/pwScheduleF.h"
#include "support/AgentTesting.h"
#include "support/DovecotEnv.h"
#include "support/ProcessUsage.h"
#include "support/TlsEnv.h"

namespace pw::chaos {

struct RunSettings {
    int checks = 40;
    int life = 50;           // checks per agent
    int faultsPerCheck = 25; // planned; those whose call never comes are not injected
    uint32_t base = 1;       // check n has the seed base + n
    std::optional<uint32_t> onlySeed;
    int timeOut = 2; // seconds per network wait
    // Dovecot's users this one and the next (counted from 1): the other tests use the first
    // three, the soak the last two. A second run beside this one takes two others.
    int dovecotUser = 4;
};

class ChaosRun {
public:
    ChaosRun(RunSettings settings, const std::string& program);
    ~ChaosRun();
    ChaosRun(const ChaosRun&) = delete;
    ChaosRun& operator=(const ChaosRun&) = delete;

    // 0 when every check went right.
    int Run();

private:
    class Seams;

    void PrintSetting() const;
    void WriteClientFiles() const;
    // A new agent, its start-up under the plan's locked files; false when the start-up went
    // wrong (the problems are listed).
    bool StartLife(uint32_t seed);
    void EndLife();
    // One check with the plan of the seed; false when something went wrong.
    bool RunCheck(uint32_t seed, int number);
    void PrepareCheck(const CheckPlan& plan);
    // What must hold after the check; each problem is one entry.
    std::vector<std::string> Judge(const CheckPlan& plan, const std::vector<std::string>& trace);
    void JudgeMailboxes(const CheckPlan& plan, const std::vector<std::string>& trace,
                        std::vector<std::string>& wrong);
    void JudgeRestingState(std::vector<std::string>& wrong);
    void JudgeLeftovers(const CheckPlan& plan, std::vector<std::string>& wrong);
    void CountRasFault(const CheckPlan& plan);
    void PrintSummary(int done, DWORD seconds) const;
    void Watch();
    // The command that runs the check of the seed alone, as this run planned it.
    std::string RerunCommand(uint32_t seed) const;

    RunSettings settings_;
    std::string dir_;
    soak::ServerHost host_;
    std::optional<test::DovecotEnv> dovecot_;
    std::optional<test::TlsEnv> tls_;
    std::optional<test::TraceFile> trace_;
    std::vector<soak::Watched> boxes_;
    std::vector<std::string> addresses_;
    std::vector<bool> tlsBoxes_;
    std::string rasConfig_;
    std::string rasLog_;
    size_t rasLogMark_ = 0;

    std::unique_ptr<Seams> seams_;
    std::unique_ptr<TApplication> app_;
    std::unique_ptr<TPlaceHolder> agent_;
    std::unique_ptr<TpwSchedule> schedule_;
    SYSTEMTIME now_{};
    uint64_t monotonic_ = 1000000;
    // Message boxes shown and programs started: none is expected unless the plan says why.
    std::vector<std::string> surprises_;
    bool poked_ = false;
    // The agent could not read its own settings: it sends no password in clear text.
    bool clearPasswordsRefused_ = false;
    // The accounts file was held for good at start-up: no mailbox is watched.
    bool accountsUnread_ = false;
    bool ended_ = false;

    // Tallies.
    std::map<std::string, long> rasFaults_;
    std::map<std::string, long> startupFaults_;
    long pokes_ = 0;
    long tlsSessions_ = 0;
    std::vector<uint32_t> failedSeeds_;
    std::vector<test::Usage> lifeEnds_;

    // The watchdog: a check that runs past its bound ends the program, saying its seed.
    std::atomic<DWORD> checkStarted_{0};
    std::atomic<uint32_t> checkSeed_{0};
    std::atomic<bool> stopWatch_{false};
    std::thread watchdog_;
};

} // namespace pw::chaos
