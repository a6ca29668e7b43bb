// The agent's handlers, driven in-process with an injected clock and command line: start-up,
// the minute tick in countdown and schedule-table mode, the tray menu, and stand-alone checks
// against a scripted POP3 server.
#include "agent/PWiseF.h"
#include "core/Password.h"
#include "pop3script/ScriptedPop3Server.h"
#include "support/AgentTesting.h"
#include "support/DovecotEnv.h"
#include "support/WindowsSendErrors.h"
#include "win/MessagePump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace pw {
namespace {

using test::Mailbox;
using test::MailMessage;
using test::ScriptedPop3Server;

using test::AccountLine;
using test::ReadAll;
using test::WriteTextFile;

constexpr char kStandInClient[] = PW_CXSYSTEM_EXE;

class AgentTest : public test::AgentHarness {
protected:
    AgentTest() : AgentHarness("pw-agent-") {}

    // The state that the normal end of a check leaves, and a next check that runs.
    void ExpectTheCheckEndedAndTheNextOneRuns(TPlaceHolder& agent, int checksThen) {
        EXPECT_FALSE(Probe().Cycle().Busy());
        EXPECT_TRUE(agent.ExeTimer.Enabled());
        EXPECT_TRUE(Probe().MenuEnabled(kStatus1));
        EXPECT_TRUE(Probe().MenuEnabled(kCheckNow1));
        EXPECT_FALSE(agent.Timer2.Enabled());          // the busy animation
        EXPECT_FALSE(agent.POPbox.TimeCounterArmed()); // nothing ticks between checks
        EXPECT_EQ(Probe().TrayImage(), Probe().BackgroundMode() ? 4 : 2);
        agent.CheckNow1Click();
        EXPECT_EQ(CountTrace("check due"), checksThen);
    }

    // The simulated dial-up library with this configuration, and settings that dial "Office".
    void DialThroughTheSimulation(const std::string& config) {
        WriteTextFile(dir_ + "rassim.txt", config);
        rasLibraryPath_ = PW_RASSIM_DLL;
        simConfig_.emplace("PW_RASSIM_CONFIG", dir_ + "rassim.txt");
        WriteTextFile(dir_ + "setupRAS.RAS",
                      "Office\r\nbob\r\n" + UnscramblePassword("pw") + "\r\n1\r\n0\r\n");
    }
    std::optional<test::ScopedEnvironmentVariable> simConfig_;
};

TEST_F(AgentTest, WithoutArgumentsEndsAtOnceAndReadsNoFile) {
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("a@x", "127.0.0.1", "a", "pw"));
    TPlaceHolder& agent = Start({});
    EXPECT_EQ(ends_, 1);
    EXPECT_EQ(Probe().AccountCount(), 0);
    EXPECT_FALSE(agent.ExeTimer.Enabled());
    EXPECT_FALSE(agent.Timer1.Enabled());
}

TEST_F(AgentTest, NonNumericIntervalEndsAtOnce) {
    Start({"ten"});
    EXPECT_EQ(ends_, 1);
}

TEST_F(AgentTest, StartsInStandAloneModeUnlessTheSecondArgumentIsExactlyBGR) {
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("a@x", "127.0.0.1", "a", "pw"));
    TPlaceHolder& agent = Start({"5", "/bgr"});
    EXPECT_FALSE(Probe().BackgroundMode());
    EXPECT_EQ(Probe().ProgramDir(), dir_);
    EXPECT_EQ(Probe().CheckInterval(), 5);
    EXPECT_EQ(Probe().AccountCount(), 1);
    EXPECT_TRUE(agent.Timer1.Enabled());
    EXPECT_TRUE(agent.ExeTimer.Enabled());
    EXPECT_EQ(agent.TrayIcon1.ToolTip(), "CX-Agent: Idle...");
    EXPECT_EQ(ends_, 0);
}

TEST_F(AgentTest, BackgroundModeAlwaysCountsDown) {
    WriteTextFile(dir_ + "Corvex.INI", "[Auto Schedule]\r\nType=2\r\nTime1=12:00\r\n");
    Start({"5", "/BGR"});
    EXPECT_TRUE(Probe().BackgroundMode());
    EXPECT_EQ(Probe().ScheduleType(), "1");
}

TEST_F(AgentTest, CountdownChecksOnTheThirdTickAndThreeTicksAfterEachCheck) {
    TPlaceHolder& agent = Start({"3"});
    for (int tick = 1; tick <= 6; ++tick) {
        agent.ExeTimerTimer();
        EXPECT_EQ(CountTrace("check due"), tick / 3) << "tick " << tick;
    }
    EXPECT_EQ(Probe().MinutesElapsed(), 0);
    EXPECT_TRUE(agent.ExeTimer.Enabled());
}

TEST_F(AgentTest, DialUpFileIntervalReplacesTheArgumentInStandAloneMode) {
    WriteTextFile(dir_ + "setupRAS.RAS", "\r\n\r\n\r\n7\r\n");
    Start({"3"});
    EXPECT_EQ(Probe().CheckInterval(), 7);
}

TEST_F(AgentTest, ScheduleTableMatchesOneAndTwoDigitHoursWithOneCheck) {
    WriteTextFile(dir_ + "Corvex.INI",
                  "[Auto Schedule]\r\nType=2\r\nTime1=7:05\r\nTime2=07:05\r\nTime3=0705\r\n"
                  "Time4=ab:cd\r\n");
    TPlaceHolder& agent = Start({"1"});
    now_.wHour = 7;
    now_.wMinute = 5;
    agent.ExeTimerTimer();
    EXPECT_EQ(CountTrace("check due"), 1);
    now_.wMinute = 6;
    agent.ExeTimerTimer();
    agent.CheckNow1Click(); // between scheduled times: nothing
    EXPECT_EQ(CountTrace("check due"), 1);
    EXPECT_EQ(Probe().MinutesElapsed(), 1); // set by Check Now!, not counted in this mode
}

TEST_F(AgentTest, ScheduleTableNeverMatchesWithAnotherTimeSeparator) {
    WriteTextFile(dir_ + "Corvex.INI",
                  "[Auto Schedule]\r\nType=2\r\nTime1=07:05\r\nTime2=07.05\r\n");
    separator_ = ".";
    TPlaceHolder& agent = Start({"1"});
    now_.wHour = 7;
    now_.wMinute = 5;
    agent.ExeTimerTimer();
    EXPECT_EQ(CountTrace("check due"), 0);
}

TEST_F(AgentTest, CloseStartsTheClientOnceInStandAloneModeOnly) {
    Start({"5"}).Close1Click();
    EXPECT_EQ(started_, std::vector<std::string>{"CXsystem.exe"});
    EXPECT_EQ(ends_, 1);
    agent_.reset();
    started_.clear();
    Start({"5", "/BGR"}).Close1Click();
    EXPECT_TRUE(started_.empty());
    EXPECT_EQ(ends_, 2);
}

TEST_F(AgentTest, CheckNowBeforeStartUpHasFinishedDoesNothing) {
    TPlaceHolder& agent = Start({"1"});
    agent.Timer1.SetEnabled(false);
    agent.CheckNow1Click();
    EXPECT_EQ(CountTrace("check due"), 0);
}

TEST_F(AgentTest, RemovingTheFlagFileEndsTheAgentAtTheNextWatch) {
    TPlaceHolder& agent = Start({"5"});
    agent.Timer1Timer();
    EXPECT_EQ(ends_, 0);
    DeleteFileA((dir_ + "PWise.flg").c_str());
    agent.Timer1Timer();
    EXPECT_EQ(ends_, 1);
}

// The application window stands for the program on the task bar while the status window is
// open; closing it by any means, and the end of the session, end the agent with its tray icon.
TEST_F(AgentTest, ClosingTheApplicationWindowEndsTheAgent) {
    TPlaceHolder& agent = Start({"5"});
    const HWND window = FindWindowA("TApplication", "Vantiro's Automation Agent");
    ASSERT_EQ(window, app_->Handle());
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(agent.TrayIcon1.Active());
    EXPECT_TRUE(IsWindow(agent.FormHandle())); // not torn down behind the agent's back
}

TEST_F(AgentTest, TheEndOfTheSessionEndsTheAgentWithoutAsking) {
    TPlaceHolder& agent = Start({"5", "/BGR"});
    for (HWND window : {app_->Handle(), agent.FormHandle()})
        EXPECT_EQ(SendMessageA(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
    SendMessageA(app_->Handle(), WM_ENDSESSION, FALSE, 0); // another program said no
    EXPECT_EQ(ends_, 0);
    SendMessageA(agent.FormHandle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    SendMessageA(app_->Handle(), WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(agent.TrayIcon1.Active());
}

class StandAloneCheck : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        for (const char* user : {"one", "two", "three"}) {
            Mailbox box{user, "pw", {}};
            MailMessage m;
            m.headers = "Subject: hi\r\nMessage-ID: <" + std::string(user) + "-1@x>";
            m.body = "body";
            m.uid = std::string(user) + "-1";
            box.messages.push_back(m);
            server_.AddMailbox(box);
        }
        server_.Start();
        server = "127.0.0.1:" + std::to_string(server_.Port());
        // one and three have fetched their message already; two has new mail.
        WriteTextFile(dir_ + "one@" + server + ".MES", "one-1;2026-12-01\r\n");
        WriteTextFile(dir_ + "three@" + server + ".MES", "three-1\r\n");
    }
    ScriptedPop3Server server_;
    std::string server;
};

TEST_F(StandAloneCheck, FirstMailboxWithNewMailEndsTheCheckAndStartsTheClient) {
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("one@x", server, "one", "pw") +
                                             AccountLine("nobody", server, "one", "pw") +
                                             AccountLine("two@x", server, "two", "pw") +
                                             AccountLine("three@x", server, "three", "pw"));
    TPlaceHolder& agent = Start({"1"});
    agent.shoot.OnFinished = nullptr; // no client program here: the failure event ends the wait
    agent.CheckNow1Click();
    const auto transcript = server_.Transcript();
    EXPECT_EQ(server_.ConnectionCount(), 2u); // one and two; "nobody" has no "@", three waits
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "USER three"), 0);
    EXPECT_EQ(CountTrace("mailbox two@x: 1 new"), 1);
    EXPECT_EQ(CountTrace("start client: CXsystem.exe /PWGM"), 1);
    EXPECT_EQ(agent.shoot.Directory(), dir_.substr(0, dir_.size() - 1));
    EXPECT_EQ(Probe().ArrivedCount(), 0);
    EXPECT_TRUE(Probe().MenuEnabled(kStatus1));
    EXPECT_TRUE(agent.ExeTimer.Enabled());
}

TEST_F(StandAloneCheck, NoNewMailAnywhereStartsNoClient) {
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("one@x", server, "one", "pw") +
                                             AccountLine("three@x", server, "three", "pw"));
    TPlaceHolder& agent = Start({"1"});
    agent.CheckNow1Click();
    EXPECT_EQ(server_.ConnectionCount(), 2u);
    EXPECT_EQ(CountTrace("start client: CXsystem.exe /PWGM"), 0);
    EXPECT_EQ(agent.TrayIcon1.ToolTip(), "CX-Agent: Idle...");
}

TEST_F(StandAloneCheck, ARefusedServerFailsAtOnceAndTheNextMailboxIsChecked) {
    const std::string refused = "127.0.0.1:" + std::to_string(ScriptedPop3Server::UnusedPort());
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("gone@x", refused, "one", "pw") +
                                             AccountLine("one@x", server, "one", "pw"));
    TPlaceHolder& agent = Start({"1"});
    const DWORD start = GetTickCount();
    agent.CheckNow1Click();
    EXPECT_LT(GetTickCount() - start, 60000u); // not the 240-second time-out
    EXPECT_EQ(server_.ConnectionCount(), 1u);
    bool refusedTraced = false;
    for (const auto& line : TraceLines())
        refusedTraced |= line.find("mailbox gone@x failed: [10061]") == 0;
    EXPECT_TRUE(refusedTraced);
}

// Every way a session can fail leaves the socket closed, so that the healthy mailbox after it
// is contacted in this check and in the next. Sends fail as Windows fails them, so that no
// platform's error code closes the socket by chance.
enum class SessionFault { Refused, CloseAfterGreeting, PassRefusedThenClose, ResetInTop, Silent };

class SessionFaultCheck : public StandAloneCheck,
                          public ::testing::WithParamInterface<SessionFault> {};

TEST_P(SessionFaultCheck, TheNextMailboxIsContactedInThisAndTheNextCheck) {
    ScriptedPop3Server faulty;
    Mailbox box{"one", "pw", {}};
    MailMessage m;
    m.headers = "Subject: hi";
    m.uid = "bad-1";
    box.messages.push_back(m);
    faulty.AddMailbox(box);
    test::SessionScript script;
    switch (GetParam()) {
    case SessionFault::Refused:
        break;
    case SessionFault::CloseAfterGreeting:
        script.greeting = test::Response::Line("+OK hello").ThenClose();
        break;
    case SessionFault::PassRefusedThenClose:
        script.replies["PASS"] = test::Response::Line("-ERR [AUTH] no").ThenClose();
        break;
    case SessionFault::ResetInTop:
        script.replies["TOP"] = test::Response::Raw("+OK\r\nSubject: hi\r\n").ThenReset();
        break;
    case SessionFault::Silent:
        script.greeting = test::Response::Hang();
        mailboxTimeOut_ = 1;
        break;
    }
    faulty.SetScript(script);
    faulty.Start();
    const std::string faultyServer =
        "127.0.0.1:" + std::to_string(GetParam() == SessionFault::Refused
                                          ? ScriptedPop3Server::UnusedPort()
                                          : faulty.Port());
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("bad@x", faultyServer, "one", "pw") +
                                             AccountLine("one@x", server, "one", "pw"));
    TPlaceHolder& agent = Start({"1"});
    test::WindowsSendErrors windows(test::WindowsSendErrors::Mode::FailuresAsWindows);
    agent.CheckNow1Click();
    agent.CheckNow1Click();
    EXPECT_EQ(server_.ConnectionCount(), 2u);
    const auto transcript = server_.Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "STAT"), 2);
    EXPECT_FALSE(agent.POPbox.IsSocketOpen());
    EXPECT_EQ(CountTrace("check due"), 2);
}

INSTANTIATE_TEST_SUITE_P(EachFault, SessionFaultCheck,
                         ::testing::Values(SessionFault::Refused, SessionFault::CloseAfterGreeting,
                                           SessionFault::PassRefusedThenClose,
                                           SessionFault::ResetInTop, SessionFault::Silent));

// A failure the user must act on is told once per mailbox, again when its reason changes; the
// agent's own settings file asks for STLS per host, and no password goes out after a refusal.
TEST_F(StandAloneCheck, AFailureToActOnIsToldOnceAndAgainWhenItsReasonChanges) {
    test::SessionScript script;
    script.replies["PASS"] = test::Response::Line("-ERR [AUTH] no");
    script.replies["STLS"] = test::Response::Line("-ERR no TLS here");
    server_.SetScript(script);
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("one@x", server, "one", "pw"));
    TPlaceHolder& agent = Start({"1"});
    agent.CheckNow1Click();
    agent.CheckNow1Click();
    const std::string refused =
        "alert: pwagent: one@x cannot be checked: the server refused the login";
    EXPECT_EQ(CountTrace(refused), 1);

    WriteTextFile(dir_ + "pwagent.ini", "[Server 127.0.0.1]\r\nTLS=stls\r\nbogus line\r\n");
    TPlaceHolder& again = Start({"1"}); // the file is read at start-up
    EXPECT_NE(TraceText().find("pwagent.ini line 3"), std::string::npos); // a bad line, ignored
    again.CheckNow1Click();
    again.CheckNow1Click();
    EXPECT_EQ(CountTrace("alert: pwagent: one@x cannot be checked: the server does not offer TLS "
                         "(STLS)"),
              1);
    const auto transcript = server_.Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "STLS"), 2);
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "USER one"), 2); // before the file
    EXPECT_FALSE(again.POPbox.IsSocketOpen());
}

// A server is asked its capabilities once in a run; "Capabilities=no" leaves the wire as it was
// without them, byte for byte.
TEST_F(StandAloneCheck, CapaGoesOncePerServerAndCapabilitiesNoLeavesTheWireAsItWas) {
    test::SessionScript script;
    script.replies["CAPA"] = test::Response::MultiLine("+OK", "PIPELINING\r\nUIDL\r\n");
    server_.SetScript(script);
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("one@x", server, "one", "pw") +
                                             AccountLine("three@x", server, "three", "pw"));
    const auto session = [](const std::string& user) {
        return "USER " + user + "\r\nPASS pw\r\nSTAT\r\nLIST 1\r\nTOP 1 1\r\nUIDL 1\r\nQUIT\r\n";
    };
    TPlaceHolder& agent = Start({"1"});
    agent.CheckNow1Click();
    agent.CheckNow1Click();
    EXPECT_EQ(server_.RawReceived(0), "CAPA\r\n" + session("one"));
    EXPECT_EQ(server_.RawReceived(1), session("three"));
    EXPECT_EQ(server_.RawReceived(2), session("one"));

    WriteTextFile(dir_ + "pwagent.ini", "[Defaults]\r\nCapabilities=no\r\n");
    Start({"1"}).CheckNow1Click();
    EXPECT_EQ(server_.RawReceived(4), session("one"));
    EXPECT_EQ(server_.RawReceived(5), session("three"));
    EXPECT_EQ(CountTrace("start client: CXsystem.exe /PWGM"), 0);
}

// A settings file saved by Notepad as "Unicode" is read as its text; a security line in it that
// cannot be read is told once, and that server gets no password in clear text.
TEST_F(StandAloneCheck, AnUnreadableSecurityLineInAUnicodeSettingsFileFailsSafe) {
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("one@x", server, "one", "pw"));
    std::string ini = "\xFF\xFE";
    for (char c : std::string("[Defaults]\r\nBalloons=yes\r\n[Server 127.0.0.1]\r\nTLS=stsl\r\n"))
        ini += std::string{c, '\0'};
    WriteTextFile(dir_ + "pwagent.ini", ini);
    TPlaceHolder& agent = Start({"1"});
    EXPECT_EQ(CountTrace("alert: pwagent.ini line 4 cannot be read"), 1);
    agent.CheckNow1Click();
    EXPECT_EQ(CountTrace("alert: pwagent: one@x cannot be checked: the password would be sent in "
                         "clear text"),
              1);
    const auto transcript = server_.Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "USER one"), 0);
}

TEST_F(StandAloneCheck, DoubleClickWhileACheckRunsDoesNothing) {
    test::SessionScript slow;
    slow.replyDelayMs = 300;
    server_.SetScript(slow);
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("one@x", server, "one", "pw"));
    TPlaceHolder& agent = Start({"1"});
    TpwSchedule schedule(app_->Handle());
    agent.SetStatusWindow(&schedule);
    int shown = 0;
    schedule.OnShow = [&](TpwSchedule&) { ++shown; };
    PostMessageA(agent.TrayIcon1.CallbackHandle(), TTrayIcon::kCallbackMessage, 0,
                 WM_LBUTTONDBLCLK);
    agent.CheckNow1Click();
    EXPECT_EQ(shown, 0);
    agent.SetStatusWindow(nullptr);
}

TEST_F(StandAloneCheck, RemovingTheFlagFileEndsTheAgentInTheMiddleOfACheck) {
    test::SessionScript silent;
    silent.greeting = test::Response::Hang();
    server_.SetScript(silent);
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("one@x", server, "one", "pw"));
    TPlaceHolder& agent = Start({"1"});
    DeleteFileA((dir_ + "PWise.flg").c_str());
    const DWORD start = GetTickCount();
    agent.CheckNow1Click(); // the watch ends the agent, whose end cancels the mailbox wait
    EXPECT_GE(ends_, 1);
    EXPECT_LT(GetTickCount() - start, 60000u);
}

// The dial-up library failing while the check looks for a connection: the error goes to the
// exception handler, and the check still ends so that the next one runs.
TEST_F(AgentTest, ADialUpErrorEndsTheCheckAndTheNextOneRuns) {
    DialThroughTheSimulation("entry Office\nconnect 2\nconnection 0x500 Other\nprojerr 731\n");
    TPlaceHolder& agent = Start({"1"});
    agent.CheckNow1Click();
    ExpectTheCheckEndedAndTheNextOneRuns(agent, 2);
}

// A stand-alone check hangs up after the client's run and again at its end: the line it dialled
// is hung up once.
TEST_F(StandAloneCheck, ADialledLineIsHungUpOnceAfterTheRetrieval) {
    DialThroughTheSimulation("delay 0\nentry Office\nconnect 2\n");
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("two@x", server, "two", "pw"));
    TPlaceHolder& agent = Start({"1"});
    agent.shoot.OnFinished = nullptr; // no client program here: the failure event ends the wait
    agent.CheckNow1Click();
    EXPECT_EQ(CountTrace("start client: CXsystem.exe /PWGM"), 1);
    EXPECT_EQ(CountTrace("hang up"), 2);
    EXPECT_EQ(CountTrace("RAS hung up"), 1);
    EXPECT_TRUE(agent.DialUp.Dialled);
}

// A link with the client that fails at one command, as an unexpected error would.
class FailingClientLink : public IClientLink {
public:
    explicit FailingClientLink(std::string failAt) : failAt_(std::move(failAt)) {}
    void SendToClient(const std::string& text) override { FailAt(text); }
    void SendReport(const std::vector<std::string>&) override { FailAt("CHECK:"); }
    void AskClientToRetrieve(const std::string& list) override { FailAt("GET:" + list); }

private:
    void FailAt(const std::string& text) const {
        if (text.compare(0, failAt_.size(), failAt_) == 0)
            throw std::runtime_error("link failed at " + failAt_);
    }
    std::string failAt_;
};

// Whatever throws in a phase of a check, the check ends as a normal one does.
TEST_F(StandAloneCheck, AFailureInAnyPhaseOfACheckLeavesNothingHalfDone) {
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("one@x", server, "one", "pw") +
                                             AccountLine("two@x", server, "two", "pw"));
    struct Phase {
        const char* failAt;
        std::vector<std::string> args;
    };
    asteriskSound_ = [] { throw std::runtime_error("no sound"); };
    for (const Phase& phase : {Phase{"CHECKSTART", {"1", "/BGR"}}, Phase{"GET:", {"1", "/BGR"}},
                               Phase{"sound", {"1"}}}) {
        SCOPED_TRACE(phase.failAt);
        const int before = CountTrace("check due");
        TPlaceHolder& agent = Start(phase.args);
        agent.SetClientLink(std::make_unique<FailingClientLink>(phase.failAt));
        agent.CheckNow1Click();
        ExpectTheCheckEndedAndTheNextOneRuns(agent, before + 2);
        // Neither logged nor shown by the exception logger, and still not lost.
        const std::string what = phase.failAt == std::string("sound")
                                     ? "no sound"
                                     : std::string("link failed at ") + phase.failAt;
        EXPECT_EQ(CountTrace("check failed: " + what + " (std::runtime_error)"), 2);
    }
}

TEST_F(StandAloneCheck, AFailedClientCheckStillLetsTheNextChecksRun) {
    WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("two@x", server, "two", "pw"));
    TPlaceHolder& agent = Start({"1", "/BGR"});
    agent.SetClientLink(std::make_unique<FailingClientLink>("CHECK:"));
    agent.BackgroundCallsPokeData("CHECK", DdeServer::Acknowledgement());
    EXPECT_FALSE(agent.Timer2.Enabled());
    EXPECT_EQ(Probe().TrayImage(), 4);
    agent.BackgroundCallsPokeData("CHECK", DdeServer::Acknowledgement());
    EXPECT_EQ(CountTrace("report: two@x has 1 new"), 2); // not left waiting for the first
    agent.BackgroundCallsPokeData("START", DdeServer::Acknowledgement());
    agent.CheckNow1Click();
    EXPECT_EQ(CountTrace("check due"), 1);
}

// The agent may go away while the client program it started still runs: the launcher's thread
// outlives it without touching it, and the program's end reaches nobody.
TEST_F(AgentTest, DestroyingTheAgentWhileTheClientRunsIsSafe) {
    CopyFileA(kStandInClient, (dir_ + "CXsystem.exe").c_str(), FALSE);
    const test::ScopedEnvironmentVariable log("PW_CXSTAND_LOG", dir_ + "CXsystem.log");
    TPlaceHolder& agent = Start({"1"});
    agent.shoot.SetDirectory(Probe().ProgramDir());
    agent.shoot.Command = "CXsystem.exe /NODDE";
    agent.shoot.Wait = true;
    agent.shoot.Execute();
    ASSERT_TRUE(test::PumpUntil([] { return FindWindowA("TCXCmainForm", nullptr) != nullptr; }));
    agent_.reset();
    app_.reset();
    PostMessageA(FindWindowA("TCXCmainForm", nullptr), WM_CLOSE, 0, 0);
    ASSERT_TRUE(test::PumpUntil([this] {
        return test::ReadAll(dir_ + "CXsystem.log").find("exit: code 0") != std::string::npos;
    }));
    // The launcher's thread sees the end and finds no component to tell.
    ASSERT_TRUE(test::PumpUntil([this] {
        return TraceText().find("program ended with 0: CXsystem.exe /NODDE") != std::string::npos;
    }));
    TPlaceHolder& again = Start({"1"});
    EXPECT_TRUE(again.ExeTimer.Enabled());
}

// The whole stand-alone round trip with a real server and the stand-in client: the client
// fetches what the agent found, records the ids and leaves the count in the flag file.
TEST_F(AgentTest, RoundTripWithDovecotAndTheStandInClient) {
    const auto dovecot = test::DovecotEnv::FromEnvironment();
    if (!dovecot)
        GTEST_SKIP() << "no dovecot for this run";
    CopyFileA(kStandInClient, (dir_ + "CXsystem.exe").c_str(), FALSE);
    std::string accounts;
    for (size_t i = 0; i < 3; ++i) {
        const auto& user = dovecot->User(i);
        dovecot->ClearMailbox(user.name);
        dovecot->Deliver(user.name,
                         "Subject: old\r\nMessage-ID: <old-" + user.name + "@x>\r\n\r\nold\r\n");
        accounts += AccountLine(user.name + "@x", dovecot->Server(), user.name, user.password);
        DeleteFileA((dir_ + user.name + "@" + dovecot->Server() + ".MES").c_str());
    }
    WriteTextFile(dir_ + "vtMailDa.dat", accounts);
    TPlaceHolder& agent = Start({"1"});

    agent.CheckNow1Click(); // everything is new: the client fetches all three
    EXPECT_EQ(Probe().ArrivedCount(), 3);
    EXPECT_EQ(agent.TrayIcon1.ToolTip(), "CX-Agent: New messages were retrieved");

    dovecot->Deliver(dovecot->User(1).name, "Subject: new\r\n\r\nnew\r\n");
    agent.CheckNow1Click();
    EXPECT_EQ(Probe().ArrivedCount(), 1);
    EXPECT_EQ(ReadAll(dir_ + "PWise.flg"), "1\r\n");

    agent.CheckNow1Click(); // the client recorded the ids: nothing is new any more
    EXPECT_EQ(CountTrace("start client: CXsystem.exe /PWGM"), 2);
}

} // namespace
} // namespace pw
