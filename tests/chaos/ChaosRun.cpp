// The fault-injection run: lives, checks, the plan of each made real; see ChaosRun.h. What is
// judged after a check is in ChaosJudge.cpp.
#include "ChaosRun.h"

#include <algorithm>
#include <iomanip>
#include <iostream>

#include "ChaosSeams.h"
#include "Injector.h"
#include "core/Password.h"
#include "win/MessagePump.h"

namespace pw::chaos {

namespace {

using soak::Banner;
using test::WriteTextFile;

constexpr char kTraceName[] = "pw-chaos-trace.txt";
// A check that runs longer than this has a wait that never ends: every wait of every session
// at its time-out, and the dial-up's, with room to spare.
constexpr DWORD kWaitsPerSession = 16;
constexpr DWORD kCheckSlackMs = 120000;
constexpr int kRerunsAlone = 3;
const std::vector<std::string> kClientFiles = {"vtMailDa.dat", "setupRAS.RAS", "pwagent.ini",
                                               "Corvex.INI"};

// The dial-up entry the agent dials (from "setupRAS.RAS") and the simulated line's set-up.
constexpr char kDialEntry[] = "Office";
std::string RasConfig(const CheckPlan* plan) {
    std::string text = "delay 1\nentry " + std::string(kDialEntry) + "\nuser dialer\n";
    text += (plan != nullptr ? plan->ras.dialOutcome : std::string("connect 3")) + "\n";
    text += "ip 10.0.0.7\nconnection 0x7001 LAN\n";
    if (plan != nullptr && plan->ras.lineUp)
        text += "ip 10.9.9.9\n";
    if (plan != nullptr && !plan->ras.callFailure.empty())
        text += plan->ras.callFailure + "\n";
    // A new text each check: the simulated library counts calls from the change.
    text +=
        "# " + (plan != nullptr ? "check seed " + std::to_string(plan->seed) : "at rest") + "\n";
    return text;
}

} // namespace

ChaosRun::ChaosRun(RunSettings settings, const std::string& program)
    : settings_(std::move(settings)), dir_(soak::PrepareRunFolder("pw-chaos")), host_(program),
      dovecot_(test::DovecotEnv::FromEnvironment()), tls_(test::TlsEnv::FromEnvironment()) {
    trace_.emplace(kTraceName);
    const size_t firstUser = static_cast<size_t>(settings_.dovecotUser) - 1;
    if (dovecot_ && dovecot_->Users().size() < firstUser + 2)
        dovecot_.reset();
    if (!dovecot_)
        tls_.reset();
    boxes_ = soak::WatchedMailboxes(host_, dovecot_, firstUser, tls_);
    for (const soak::Watched& box : boxes_) {
        addresses_.push_back(box.address);
        tlsBoxes_.push_back(box.tls);
    }
    rasConfig_ = dir_ + "rassim.cfg";
    rasLog_ = dir_ + "rassim.log";
    SetEnvironmentVariableA("PW_RASSIM_CONFIG", rasConfig_.c_str());
    SetEnvironmentVariableA("PW_RASSIM_LOG", rasLog_.c_str());
    WriteClientFiles();
    now_.wYear = 2026;
    now_.wMonth = 3;
    now_.wDay = 2;
    now_.wHour = 9;
    watchdog_ = std::thread([this] { Watch(); });
}

ChaosRun::~ChaosRun() {
    stopWatch_ = true;
    watchdog_.join();
}

void ChaosRun::WriteClientFiles() const {
    std::string accounts;
    for (const soak::Watched& box : boxes_) {
        accounts += test::AccountLine(box.address, box.server, box.user, box.password);
        if (box.address == "alpha@x")
            accounts += test::AccountLine("nobody", box.server, box.user, box.password);
    }
    WriteTextFile(dir_ + "vtMailDa.dat", accounts);
    // The check interval of line 4 (5 minutes) shows that the file was read.
    WriteTextFile(dir_ + "setupRAS.RAS", std::string(kDialEntry) + "\r\ndialer\r\n" +
                                             UnscramblePassword("pw-dial") +
                                             "\r\n5\r\n0\r\n0\r\n\r\n0\r\n");
    WriteTextFile(dir_ + "Corvex.INI", "[Auto Schedule]\r\nType=1\r\nTime1=07:30\r\n");
    if (tls_)
        WriteTextFile(dir_ + "pwagent.ini", soak::TlsSettings());
}

void ChaosRun::PrintSetting() const {
    std::cout << "pwagent fault-injection run: " << settings_.checks << " checks, a new agent "
              << "every " << settings_.life << ", " << settings_.faultsPerCheck
              << " planned faults per check, seeds " << settings_.base + 1 << " to "
              << settings_.base + settings_.checks << ", time-out " << settings_.timeOut
              << " s per network wait\n";
    if (!dovecot_)
        Banner("NO DOVECOT (PW_DOVECOT_PORT, PW_DOVECOT_DIR, PW_DOVECOT_USERS unset): "
               "the mailboxes are all on the scripted server");
    else if (!tls_)
        Banner("NO TLS PEERS (PW_DOVECOT_TLS_PORT, PW_TLS_FRONT_* unset): no TLS mailboxes");
    std::cout << "mailboxes in table order:";
    for (const soak::Watched& box : boxes_)
        std::cout << " " << box.address << (box.tls ? " (TLS)" : "");
    std::cout << std::endl;
}

int ChaosRun::Run() {
    seams_ = std::make_unique<Seams>();
    Injector& injector = Injector::Instance();
    injector.CurrentMailbox = [this] {
        return agent_ ? TPlaceHolder::Probe(*agent_).Cycle().Mailbox() : std::string();
    };
    injector.OnPoke = [this] {
        poked_ = true;
        seams_->poker.Poke(agent_->TrayIcon1.CallbackHandle());
    };
    const DWORD began = GetTickCount();
    int done = 0;
    if (settings_.onlySeed) {
        std::cout << "seed " << *settings_.onlySeed << " alone\n";
        const bool started = StartLife(*settings_.onlySeed);
        const bool ok = RunCheck(*settings_.onlySeed, 1) && started;
        EndLife();
        std::cout << (ok ? "PASS" : "FAIL") << std::endl;
        return ok ? 0 : 1;
    }
    PrintSetting();
    test::PrintUsageHeader();
    int lifeChecks = 0;
    for (int n = 1; n <= settings_.checks; ++n) {
        const uint32_t seed = settings_.base + static_cast<uint32_t>(n);
        if (lifeChecks == 0 && !StartLife(seed))
            failedSeeds_.push_back(seed);
        if (!RunCheck(seed, n) && (failedSeeds_.empty() || failedSeeds_.back() != seed))
            failedSeeds_.push_back(seed);
        done = n;
        ++lifeChecks;
        // An agent that could not read its accounts has nothing to check: a new one soon.
        if (lifeChecks < settings_.life && n < settings_.checks &&
            !(accountsUnread_ && lifeChecks >= 2))
            continue;
        if (!accountsUnread_) {
            ProcessMessages();
            lifeEnds_.push_back(test::MeasureUsage(n));
            test::PrintUsage(lifeEnds_.size() == 1 ? "after warm-up" : "", lifeEnds_.back());
        }
        EndLife();
        lifeChecks = 0;
    }
    const DWORD seconds = (GetTickCount() - began) / 1000;
    bool grew = false;
    if (lifeEnds_.size() >= 2) {
        const test::Usage& base = test::GrowthBase(lifeEnds_);
        if (base.checks != lifeEnds_.front().checks)
            std::cout << "growth from the end of check " << base.checks << ", the first with "
                      << base.threads << " threads as at the end\n";
        grew = test::GrewTooMuch(base, lifeEnds_.back());
    }
    PrintSummary(done, seconds);
    for (size_t i = 0; i < failedSeeds_.size() && i < size_t{kRerunsAlone}; ++i) {
        const uint32_t seed = failedSeeds_[i];
        std::cout << "rerunning seed " << seed << " alone:\n";
        const bool started = StartLife(seed);
        const bool ok = RunCheck(seed, 1) && started;
        EndLife();
        std::cout << "seed " << seed << (ok ? ": passes alone" : ": fails alone too") << "\n";
    }
    const bool passed = !grew && failedSeeds_.empty() && lifeEnds_.size() >= 2;
    if (lifeEnds_.size() < 2)
        std::cout << "the run needs two lives to compare (checks >= 2 x life)\n";
    std::cout << (passed ? "PASS" : "FAIL") << std::endl;
    return passed ? 0 : 1;
}

bool ChaosRun::StartLife(uint32_t seed) {
    Injector::Instance().Pause(true);
    WriteTextFile(rasConfig_, RasConfig(nullptr));
    const StartupPlan startup = MakeStartupPlan(seed, kClientFiles);
    const size_t mark = trace_->Mark();
    seams_->Lock(startup.lockedOpens);
    app_ = std::make_unique<TApplication>("Vantiro's Automation Agent");
    AgentEnvironment environment = soak::RunEnvironment(
        dir_, settings_.timeOut,
        [this](const std::string& problem) { surprises_.push_back(problem); },
        [this] {
            ended_ = true;
            return agent_.get();
        });
    environment.Now = [this] { return now_; };
    environment.Monotonic = [this] { return monotonic_; };
    environment.RasLibraryPath = PW_RASSIM_DLL;
    ended_ = false;
    agent_ = std::make_unique<TPlaceHolder>(*app_, std::move(environment));
    seams_->Unlock();
    schedule_ = std::make_unique<TpwSchedule>(app_->Handle());
    agent_->SetStatusWindow(schedule_.get());
    // No client program here: the launcher's failure ends the wait for it.
    agent_->shoot.OnFinished = nullptr;
    agent_->DialUp.TimeOut = 10;
    agent_->DialUp.ShowMessageBox = [this](HWND, const char* text, const char*, UINT) {
        surprises_.push_back(std::string("message box: ") + text);
        return IDOK;
    };

    std::vector<std::string> wrong;
    clearPasswordsRefused_ = false;
    accountsUnread_ = false;
    const std::vector<std::string> trace = trace_->LinesSince(mark);
    const TPlaceHolder::Probe probe(*agent_);
    for (const std::string& file : kClientFiles) {
        const int refused = seams_->RefusedOpens(file);
        if (refused == 0)
            continue;
        ++startupFaults_[file + " locked at start-up"];
        const bool forGood = startup.lockedOpens.at(file) == StartupPlan::kForGood;
        // A file held for good must be told; one held a moment must be read all the same.
        const bool told = std::any_of(trace.begin(), trace.end(), [&](const std::string& line) {
            return line.find(file) != std::string::npos && line.find("cannot") != std::string::npos;
        });
        bool read = true;
        if (file == "vtMailDa.dat")
            read = probe.AccountCount() == static_cast<int32_t>(boxes_.size() + 1);
        else if (file == "setupRAS.RAS")
            read = probe.CheckInterval() == 5;
        else if (file == "Corvex.INI")
            read = probe.ScheduleType() == "1";
        else if (file == "pwagent.ini")
            read = !probe.AgentIni().Servers.empty();
        if (forGood && file != "Corvex.INI" && !told)
            wrong.push_back(file + " was held for good and the agent did not say so");
        // Without its accounts the agent watches nothing for the rest of its life.
        if (forGood && file == "vtMailDa.dat")
            accountsUnread_ = true;
        // Its servers' security unknown, no server may get a password in clear text.
        if (forGood && file == "pwagent.ini") {
            clearPasswordsRefused_ = true;
            if (!probe.AgentIni().UnreadableDefaults)
                wrong.push_back("pwagent.ini was held for good and clear-text passwords are "
                                "still allowed");
        }
        if (!forGood && !read)
            wrong.push_back(file + " was held for " + std::to_string(refused) +
                            " opens and the agent did not read it");
    }
    if (ended_ || probe.Ended())
        wrong.push_back("the agent ended at start-up");
    if (wrong.empty())
        return true;
    std::cout << "start-up before the check of seed " << seed << ":";
    for (const std::string& w : wrong)
        std::cout << " " << w << ";";
    std::cout << "\n  rerun alone: " << RerunCommand(seed) << std::endl;
    return false;
}

std::string ChaosRun::RerunCommand(uint32_t seed) const {
    return "pwagent_chaos --seed " + std::to_string(seed) +
           (settings_.faultsPerCheck != RunSettings().faultsPerCheck
                ? " --faults " + std::to_string(settings_.faultsPerCheck)
                : std::string());
}

void ChaosRun::EndLife() {
    Injector::Instance().Pause(true);
    if (agent_)
        agent_->SetStatusWindow(nullptr);
    agent_.reset();
    schedule_.reset();
    app_.reset();
}

void ChaosRun::PrepareCheck(const CheckPlan& plan) {
    host_.Prepare(static_cast<int>(plan.seed), plan.silent, plan.newMail);
    WriteTextFile(rasConfig_, RasConfig(&plan));
    rasLogMark_ = test::ReadAll(rasLog_).size();
    if (plan.newCredentials)
        seams_->sspi.Install();
    surprises_.clear();
    poked_ = false;
    // The injected clock: a minute per check.
    monotonic_ += 60000;
    now_.wMinute = static_cast<WORD>((now_.wMinute + 1) % 60);
}

bool ChaosRun::RunCheck(uint32_t seed, int number) {
    const CheckPlan plan = MakeCheckPlan(seed, addresses_, tlsBoxes_, settings_.faultsPerCheck);
    PrepareCheck(plan);
    const size_t mark = trace_->Mark();
    Injector::Instance().BeginCheck(plan);
    checkSeed_ = seed;
    checkStarted_ = GetTickCount();
    agent_->CheckNow1Click();
    checkStarted_ = 0;
    Injector::Instance().Pause(true);
    if (poked_) {
        ++pokes_;
        // Answered in the agent's waits; what is still on its way is answered here.
        test::PumpUntil([this] { return !seams_->poker.Busy(); }, Poker::kAnswerBoundMs + 10000);
    }
    const std::vector<std::string> wrong = Judge(plan, trace_->LinesSince(mark));
    CountRasFault(plan);
    // No real minute tick may start a check of its own between the planned ones.
    agent_->ExeTimer.SetEnabled(false);
    if (wrong.empty())
        return true;
    std::cout << "check " << number << " (seed " << seed << "):";
    for (const std::string& w : wrong)
        std::cout << " " << w << ";";
    std::cout << "\n  faults injected:";
    for (const Injector::Injected& injected : Injector::Instance().InjectedThisCheck())
        std::cout << " [" << injected.mailbox << ": " << Describe(injected.fault) << "]";
    if (!plan.ras.function.empty())
        std::cout << " [dial-up: " << plan.ras.function << " " << plan.ras.code << "]";
    std::cout << "\n  rerun alone: " << RerunCommand(seed) << std::endl;
    return false;
}

// A RAS fault counts as injected when the simulated library's log shows it.
void ChaosRun::CountRasFault(const CheckPlan& plan) {
    if (plan.ras.code == 0)
        return;
    const std::string log = test::ReadAll(rasLog_, rasLogMark_);
    const std::string code = std::to_string(plan.ras.code);
    if (log.find("callfail=" + code) != std::string::npos ||
        log.find("-> " + code) != std::string::npos ||
        log.find("error=" + code) != std::string::npos)
        ++rasFaults_[plan.ras.function + " fails"];
}

void ChaosRun::PrintSummary(int done, DWORD seconds) const {
    const Injector& injector = Injector::Instance();
    long ras = 0, startup = 0;
    for (const auto& [what, count] : rasFaults_)
        ras += count;
    for (const auto& [what, count] : startupFaults_)
        startup += count;
    soak::PrintMailboxOutcomes(boxes_, done);
    std::cout << "faults injected: " << injector.Total() + ras + startup << " (" << injector.Total()
              << " Winsock and Secure Channel, " << ras << " dial-up, " << startup << " start-up), "
              << pokes_ << " tray messages and \"CLOSE\" pokes during checks, " << tlsSessions_
              << " TLS sessions established\n";
    const auto print = [](const char* title, const std::map<std::string, long>& tally) {
        std::cout << title << ":\n";
        for (const auto& [what, count] : tally)
            std::cout << "  " << std::setw(7) << count << "  " << what << "\n";
    };
    print("by kind", injector.KindTally());
    print("dial-up", rasFaults_);
    print("start-up", startupFaults_);
    print("by kind and code", injector.Tally());
    std::cout << done << " checks in " << seconds << " s, " << failedSeeds_.size() << " went wrong"
              << (failedSeeds_.empty() ? "" : " (listed above); seeds:");
    for (uint32_t seed : failedSeeds_)
        std::cout << " " << seed;
    std::cout << std::endl;
}

void ChaosRun::Watch() {
    while (!stopWatch_) {
        Sleep(1000);
        const DWORD started = checkStarted_;
        const DWORD boundMs = static_cast<DWORD>(boxes_.size()) * kWaitsPerSession *
                                  static_cast<DWORD>(settings_.timeOut) * 1000 +
                              kCheckSlackMs;
        if (started != 0 && GetTickCount() - started > boundMs) {
            std::cout << "the check of seed " << checkSeed_ << " did not end within "
                      << boundMs / 1000 << " s; rerun alone: " << RerunCommand(checkSeed_)
                      << "\nFAIL" << std::endl;
            ExitProcess(3);
        }
    }
}

} // namespace pw::chaos
