// Background mode end to end: the agent (in-process, so that a test can press "Check Now!")
// beside the stand-in client as a real process, talking DDE both ways, against the scripted
// POP3 server. What the client received is read from its log, what the agent did from its trace.
#include "agent/PWiseF.h"
#include "core/ClientCommands.h"
#include "core/Password.h"
#include "core/Text.h"
#include "pop3script/ScriptedPop3Server.h"
#include "support/AgentTesting.h"
#include "win/MessagePump.h"
#include "win/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>

namespace pw {
namespace {

using test::Mailbox;
using test::MailMessage;
using test::ScriptedPop3Server;

using test::AppendTextFile;
using test::PumpUntil;
using test::ReadAll;
using test::WriteTextFile;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Lines of a log or trace without their time stamps: the stand-in's end with "[pid] ", the
// trace's with the first blank.
std::vector<std::string> LinesAfterStamp(const std::string& text, const std::string& mark) {
    std::vector<std::string> lines;
    for (std::string line : SplitLines(text)) {
        const size_t at = line.find(mark);
        lines.push_back(at == std::string::npos ? line : line.substr(at + mark.size()));
    }
    return lines;
}

std::string AccountLine(const std::string& user, const std::string& server) {
    return test::AccountLine(user + "@x", server, user, "pw-" + user);
}

MailMessage Message(const std::string& uid) {
    MailMessage m;
    m.uid = uid;
    m.headers = "Subject: " + uid + "\r\nMessage-ID: <" + uid + "@x>";
    m.body = "body of " + uid;
    return m;
}

class BackgroundTest : public test::AgentHarness {
protected:
    BackgroundTest() : AgentHarness("pw-bg-") {}

    void SetUp() override {
        AgentHarness::SetUp();
        // The stand-in client's settings, inherited by the client this test starts.
        environment_.emplace_back(std::make_unique<test::ScopedEnvironmentVariable>(
            "PW_CXSTAND_LOG", dir_ + "CXsystem.log"));
        environment_.emplace_back(std::make_unique<test::ScopedEnvironmentVariable>(
            "PW_CXSTAND_COMMANDS", dir_ + "CXsystem.cmd"));
        environment_.emplace_back(
            std::make_unique<test::ScopedEnvironmentVariable>("PW_CXSTAND_TIMEOUT_MS", "20000"));

        // one: one-1 fetched, one-2 and one-3 new; two: nothing new; three: three-1 new.
        server_.AddMailbox(
            {"one", "pw-one", {Message("one-1"), Message("one-2"), Message("one-3")}});
        server_.AddMailbox({"two", "pw-two", {Message("two-1")}});
        server_.AddMailbox({"three", "pw-three", {Message("three-1")}});
        server_.Start();
        server = "127.0.0.1:" + std::to_string(server_.Port());
        WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("one", server) +
                                                 AccountLine("two", server) +
                                                 AccountLine("three", server));
        WriteTextFile(KnownIds("one"), "one-1;2026-01-01\r\n");
        WriteTextFile(KnownIds("two"), "two-1;2026-01-01\r\n");
    }

    void TearDown() override {
        agent_.reset();
        app_.reset();
        StopClient();
        server_.Stop();
        environment_.clear();
        AgentHarness::TearDown();
    }

    std::string KnownIds(const std::string& user) const {
        return dir_ + user + "@" + server + ".MES";
    }

    // The stand-in client in this test's folder (its working directory, as the agent's).
    // A program of the build, started in this test's folder.
    UniqueKernelHandle StartProgram(std::string exe, const std::string& commandLine) {
        std::replace(exe.begin(), exe.end(), '/', '\\');
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWMINNOACTIVE;
        PROCESS_INFORMATION info = {};
        std::string line = commandLine;
        if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                            dir_.c_str(), &startup, &info))
            return UniqueKernelHandle();
        CloseHandle(info.hThread);
        return UniqueKernelHandle(info.hProcess);
    }

    void StartClient(const std::string& arguments = "") {
        client_ = StartProgram(PW_CXSYSTEM_EXE, "CXsystem.exe " + arguments);
        ASSERT_TRUE(client_);
        ASSERT_TRUE(PumpUntil([this] {
            return ClientWindow() != nullptr && Contains(ClientLog(), "window: shown");
        })) << ClientLog();
    }

    void StopClient() {
        if (!client_)
            return;
        if (HWND window = ClientWindow())
            PostMessageA(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(client_.get(), 20000) != WAIT_OBJECT_0)
            TerminateProcess(client_.get(), 99);
        client_.reset();
    }

    static HWND ClientWindow() { return FindWindowA("TCXCmainForm", nullptr); }

    // The programs the agent started, each with how it was to be shown.
    std::vector<std::string> StartedWithShows() const {
        std::vector<std::string> started;
        for (size_t i = 0; i < started_.size(); ++i)
            started.push_back(started_[i] + " /show " + std::to_string(startedShows_[i]));
        return started;
    }

    std::string ClientLog() const { return ReadAll(dir_ + "CXsystem.log"); }
    std::vector<std::string> ClientEvents() const { return LinesAfterStamp(ClientLog(), "] "); }
    // The texts the client received, in order, as it logs them.
    std::vector<std::string> ClientPokes() const {
        std::vector<std::string> pokes;
        for (const std::string& line : ClientEvents())
            if (StartsWith(line, "poke: "))
                pokes.push_back(line.substr(6));
        return pokes;
    }
    // The client pokes a command at the agent; true once the agent has carried it out. The
    // control file's escapes ("\\r", "\\n") are the trace's too.
    bool Poke(const std::string& escapedText) {
        AppendTextFile(dir_ + "CXsystem.cmd", escapedText + "\n");
        const std::string taken = "dde ack: " + escapedText;
        const int before = CountTrace(taken);
        return PumpUntil([&] { return CountTrace(taken) > before; });
    }

    // Every poke the agent has sent so far has reached the client: a marker sent after them
    // arrives after them.
    void Flush() {
        const std::string marker = "CHECKNOTE:flush " + std::to_string(++flushes_);
        agent_->ClientLink->SendToClient(marker);
        ASSERT_TRUE(PumpUntil([&] {
            const auto pokes = ClientPokes();
            return std::find(pokes.begin(), pokes.end(), marker) != pokes.end();
        })) << ClientLog();
    }
    std::vector<std::string> ClientPokesWithoutFlushes() const {
        std::vector<std::string> pokes;
        for (const std::string& poke : ClientPokes())
            if (!StartsWith(poke, "CHECKNOTE:flush"))
                pokes.push_back(poke);
        return pokes;
    }

    std::vector<std::unique_ptr<test::ScopedEnvironmentVariable>> environment_;
    ScriptedPop3Server server_;
    std::string server;
    UniqueKernelHandle client_;
    int flushes_ = 0;
};

TEST_F(BackgroundTest, ScheduledChecksAskForTheMailboxesWithNewMailAndWaitForDone) {
    StartClient();
    TPlaceHolder& agent = Start({"1", "/BGR"});
    agent.CheckNow1Click(); // returns once the client's "DONE:" has ended the wait
    EXPECT_EQ(Probe().ArrivedCount(), 3);
    EXPECT_TRUE(Traced("dde in: DONE:3"));
    EXPECT_TRUE(agent.ExeTimer.Enabled());
    Flush();
    EXPECT_EQ(ClientPokesWithoutFlushes(),
              (std::vector<std::string>{"CHECKSTART", "CHECKSTOP", "GET:one@x^three@x"}));
    EXPECT_TRUE(Contains(ClientLog(), "dde: advise link granted"));
    EXPECT_TRUE(Contains(ClientLog(), "ack: DONE:3"));

    // The client recorded what it fetched: the next check finds nothing and asks for nothing.
    const size_t pokesBefore = ClientPokes().size();
    agent.CheckNow1Click();
    Flush();
    auto pokes = ClientPokes();
    pokes.erase(pokes.begin(), pokes.begin() + pokesBefore);
    EXPECT_EQ(pokes, (std::vector<std::string>{"CHECKSTART", "CHECKSTOP", "CHECKNOTE:flush 2"}));
    EXPECT_EQ(Probe().ArrivedCount(), 0);
}

TEST_F(BackgroundTest, CheckCommandReportsEveryMailboxWithNewMailAndStaysHaltedUntilStart) {
    StartClient();
    TPlaceHolder& agent = Start({"1", "/BGR"});
    ASSERT_TRUE(Poke("CHECK")) << ClientLog();
    const std::vector<std::string> report = {
        ReportEntry("one", server, "one", "one@x", "pw-one", 2),
        ReportEntry("three", server, "three", "three@x", "pw-three", 1)};
    EXPECT_EQ(Probe().Cycle().Report(), report); // what was poked, plain password and all
    EXPECT_FALSE(agent.ExeTimer.Enabled());
    EXPECT_TRUE(Probe().Cycle().Halted());
    const std::string masked = "CHECK:\\r\\none^" + server + "^one^one@x^***^2\\r\\nthree^" +
                               server + "^three^three@x^***^1\\r\\n";
    EXPECT_EQ(ClientPokes(),
              (std::vector<std::string>{"CHECKNOTE:Checking one@x for new messages...",
                                        "CHECKNOTE:Checking two@x for new messages...",
                                        "CHECKNOTE:Checking three@x for new messages...", masked}));
    // Acknowledged after the whole check: the reply stands before the acknowledgement.
    const auto events = ClientEvents();
    const auto reply = std::find(events.begin(), events.end(), "poke: " + masked);
    const auto ack = std::find(events.begin(), events.end(), "ack: CHECK");
    EXPECT_LT(reply, ack);
    EXPECT_NE(ack, events.end());
    for (const std::string& text : {ClientLog(), TraceText()})
        EXPECT_FALSE(Contains(text, "pw-one") || Contains(text, "pw-three")) << text;

    // Nothing new anywhere: the reply is the single line "CHECK:".
    WriteTextFile(KnownIds("one"), "one-3\r\n");
    WriteTextFile(KnownIds("three"), "three-1\r\n");
    ASSERT_TRUE(Poke("CHECK and more letters"));
    EXPECT_EQ(ClientPokes().back(), "CHECK:\\r\\n");
    EXPECT_FALSE(agent.ExeTimer.Enabled());

    ASSERT_TRUE(Poke("START"));
    EXPECT_TRUE(agent.ExeTimer.Enabled());
    EXPECT_FALSE(Probe().Cycle().Halted());
    EXPECT_TRUE(
        Traced("tool tip: CXC agent: Background task continued at 12:34:56 by CXC's demand..."));
}

TEST_F(BackgroundTest, CheckDuringAScheduledCheckRunsOnlyAfterThatCheckHasEnded) {
    // The client pokes "CHECK" while the scheduled check is in the first mailbox; the server
    // answers that mailbox only once the agent has taken the command in.
    std::atomic<bool> commandNotTakenIn{false};
    test::SessionScript script;
    script.handler = [this, &commandNotTakenIn](
                         const test::CommandContext& command) -> std::optional<test::Response> {
        if (command.session == 0 && command.line == "USER one") {
            AppendTextFile(dir_ + "CXsystem.cmd", "CHECK\n");
            const DWORD start = GetTickCount();
            while (!Traced("client check waits for the running check")) {
                if (GetTickCount() - start >= test::kWaitLimitMs) {
                    commandNotTakenIn = true;
                    break;
                }
                Sleep(test::kPollMs);
            }
        }
        return std::nullopt;
    };
    server_.SetScript(script);
    StartClient();
    TPlaceHolder& agent = Start({"1", "/BGR"});
    agent.CheckNow1Click();
    ASSERT_FALSE(commandNotTakenIn) << "the agent never took the CHECK in: " << ClientLog();
    ASSERT_TRUE(PumpUntil([this] { return Contains(ClientLog(), "ack: CHECK"); })) << ClientLog();

    // The scheduled check ended after the mailbox in hand, without "CHECKSTOP" or "GET:"; the
    // reporting check then went through all three.
    const auto transcript = server_.Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "USER one"), 2);
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "USER two"), 1);
    const auto pokes = ClientPokes();
    ASSERT_EQ(pokes.size(), 5u);
    EXPECT_EQ(pokes[0], "CHECKSTART");
    EXPECT_EQ(pokes[1], "CHECKNOTE:Checking one@x for new messages...");
    EXPECT_TRUE(StartsWith(pokes[4], "CHECK:\\r\\none^"));
    EXPECT_FALSE(agent.ExeTimer.Enabled());
    EXPECT_TRUE(Probe().Cycle().Halted());
    EXPECT_FALSE(Probe().Cycle().Busy());
}

// While the agent waits for "DONE:" no mailbox is in use: a "CHECK" that the client sends then,
// wanting the "CHECK:" reply before it answers "DONE:", is served at once instead of waiting
// for the wait it would itself have to end.
TEST_F(BackgroundTest, CheckWhileTheAgentWaitsForDoneIsAnsweredBeforeDone) {
    StartClient("/CHECKFIRST");
    TPlaceHolder& agent = Start({"1", "/BGR"});
    // A deadlock would hold the wait for "DONE:" for ever: the watchdog ends it and says so.
    bool deadlocked = false;
    TTimer watchdog(nullptr, test::kWaitLimitMs, true);
    watchdog.OnTimer = [&](TObject&) {
        deadlocked = true;
        watchdog.SetEnabled(false);
        agent.BackgroundCallsPokeData("DONE:0", DdeServer::Acknowledgement());
    };
    agent.CheckNow1Click(); // returns once the client's "DONE:" has ended the wait
    ASSERT_FALSE(deadlocked) << ClientLog();
    EXPECT_EQ(Probe().ArrivedCount(), 3);
    Flush();
    EXPECT_TRUE(Contains(ClientLog(), "dde: CHECK: reply received")) << ClientLog();
    EXPECT_FALSE(Contains(ClientLog(), "no CHECK: reply in time"));
    const auto pokes = ClientPokesWithoutFlushes();
    ASSERT_EQ(pokes.size(), 7u);
    EXPECT_EQ(pokes[2], "GET:one@x^three@x");
    EXPECT_EQ(pokes[3], "CHECKNOTE:Checking one@x for new messages...");
    EXPECT_TRUE(StartsWith(pokes[6], "CHECK:\\r\\none^")) << pokes[6];
    // The command keeps the minute tick off after the check it came in, until "START".
    EXPECT_FALSE(agent.ExeTimer.Enabled());
    EXPECT_TRUE(Probe().MenuEnabled(kCheckNow1));
    ASSERT_TRUE(Poke("START"));
    EXPECT_TRUE(agent.ExeTimer.Enabled());
}

TEST_F(BackgroundTest, CommandsOfTheClient) {
    StartClient();
    TPlaceHolder& agent = Start({"1", "/BGR"});
    agent.AppException1.ErrorLog = dir_ + "errors.log";

    ASSERT_TRUE(Poke("STOP"));
    EXPECT_FALSE(agent.ExeTimer.Enabled());
    EXPECT_TRUE(Probe().Cycle().Halted());
    EXPECT_EQ(agent.TrayIcon1.ToolTip(), "CXC agent: Stalled at 12:34:56 by CXC's demand...");

    // Halted: "Check Now!" still dials and says "CHECKSTART", but checks no mailbox, says no
    // "CHECKSTOP", and switches the minute tick on again.
    agent.CheckNow1Click();
    Flush();
    EXPECT_EQ(ClientPokesWithoutFlushes(), std::vector<std::string>{"CHECKSTART"});
    EXPECT_EQ(server_.ConnectionCount(), 0u);
    EXPECT_TRUE(agent.ExeTimer.Enabled());

    ASSERT_TRUE(Poke("NEWTIME: 15 "));
    EXPECT_EQ(Probe().CheckInterval(), 15);
    ASSERT_TRUE(Poke("NEWTIME:soon"));
    EXPECT_EQ(Probe().CheckInterval(), 15);

    ASSERT_TRUE(Poke("START\\r\\nSTOP"));
    EXPECT_TRUE(agent.ExeTimer.Enabled());
    EXPECT_FALSE(Probe().Cycle().Halted());
    ASSERT_TRUE(Poke("STOPPED NOW"));
    EXPECT_FALSE(agent.ExeTimer.Enabled());
    EXPECT_TRUE(Probe().Cycle().Halted());

    ASSERT_TRUE(Poke("DONE:many"));
    EXPECT_EQ(Probe().ArrivedCount(), 0);
    EXPECT_FALSE(Probe().Cycle().ClientAnswered());
    ASSERT_TRUE(Poke("DONE:3"));
    EXPECT_EQ(Probe().ArrivedCount(), 3);
    EXPECT_TRUE(Probe().Cycle().ClientAnswered());
    ASSERT_TRUE(Poke("done:5"));
    EXPECT_EQ(Probe().ArrivedCount(), 3);
    EXPECT_TRUE(Contains(ReadAll(dir_ + "errors.log"), "'many' is not a valid integer value"));
    EXPECT_TRUE(Traced("dde in: DONE: without a count: 'many' is not a valid integer value "
                       "(EConvertError)"));
    EXPECT_EQ(ends_, 0);

    ASSERT_TRUE(Poke("CLOSE"));
    EXPECT_EQ(ends_, 1);
    EXPECT_FALSE(agent.ExeTimer.Enabled());
    EXPECT_TRUE(PumpUntil([this] { return Contains(ClientLog(), "ack: CLOSE"); }));
}

TEST_F(BackgroundTest, StandAloneModeTakesOnlyDone) {
    StartClient();
    TPlaceHolder& agent = Start({"1"});
    for (const char* command : {"STOP", "NEWTIME:9", "CHECK", "CLOSE", "DONE:4"})
        ASSERT_TRUE(Poke(command)) << command;
    EXPECT_EQ(Probe().ArrivedCount(), 4);
    EXPECT_TRUE(agent.ExeTimer.Enabled());
    EXPECT_FALSE(Probe().Cycle().Halted());
    EXPECT_EQ(Probe().CheckInterval(), 1);
    EXPECT_EQ(ends_, 0);
    EXPECT_TRUE(ClientPokes().empty());
    EXPECT_EQ(server_.ConnectionCount(), 0u);
}

TEST_F(BackgroundTest, ClientWindowGoneWhileWaitingForDoneEndsTheAgent) {
    StartClient("/NODONE");
    TPlaceHolder& agent = Start({"1", "/BGR"});
    // Closes the client's window once it has the request, from inside the agent's wait.
    TTimer closer(nullptr, 100, true);
    closer.OnTimer = [this, &closer](TObject&) {
        if (!Contains(ClientLog(), "poke: GET:"))
            return;
        closer.SetEnabled(false);
        PostMessageA(ClientWindow(), WM_CLOSE, 0, 0);
    };
    agent.CheckNow1Click();
    EXPECT_TRUE(Traced("dde: the client's window is gone"));
    EXPECT_TRUE(PumpUntil([this] { return ends_ == 1; }));
    EXPECT_FALSE(agent.Halta.Enabled());
}

TEST_F(BackgroundTest, RefusedAdviseLinkSendsNothingAndDoesNotWait) {
    StartClient("/REFUSEADVISE");
    TPlaceHolder& agent = Start({"1", "/BGR"});
    agent.CheckNow1Click(); // no "GET:" could be sent: no wait
    EXPECT_TRUE(Probe().Cycle().ClientAnswered());
    EXPECT_EQ(CountTrace("dde out failed: GET:one@x^three@x"), 1);
    EXPECT_TRUE(Contains(ClientLog(), "dde: advise link refused"));
    EXPECT_TRUE(ClientPokes().empty());
    EXPECT_EQ(ends_, 0);
}

TEST_F(BackgroundTest, ClientWithoutConversationIsStartedWithTheList) {
    StartClient("/NODDE");
    TPlaceHolder& agent = Start({"1", "/BGR"});
    agent.CheckNow1Click();
    const std::string minimised = " /show " + std::to_string(SW_SHOWMINNOACTIVE);
    EXPECT_EQ(StartedWithShows(),
              (std::vector<std::string>{
                  "CXsystem" + minimised, "CXsystem" + minimised, "CXsystem" + minimised,
                  dir_ + "CXsystem.exe one@x^three@x /show " + std::to_string(SW_SHOWNORMAL)}));
    EXPECT_TRUE(Probe().Cycle().ClientAnswered());
    EXPECT_EQ(ends_, 0);
}

TEST_F(BackgroundTest, NoClientWindowEndsTheAgentAtItsNextAttempt) {
    TPlaceHolder& agent = Start({"1", "/BGR"});
    agent.CheckNow1Click();
    EXPECT_TRUE(started_.empty());
    EXPECT_TRUE(Traced("dde: the client's window is gone"));
    EXPECT_TRUE(PumpUntil([this] { return ends_ == 1; }));
}

// The real program: "CHECK" is answered with the report, "CLOSE" ends it.
TEST_F(BackgroundTest, TheProgramAnswersCheckAndEndsOnClose) {
    StartClient();
    UniqueKernelHandle agent = StartProgram(PW_PWAGENT_EXE, "pwagent.exe 1 /BGR");
    ASSERT_TRUE(agent);
    ASSERT_TRUE(PumpUntil([this] { return Contains(TraceText(), "tool tip: CX-Agent: Idle..."); }));
    ASSERT_TRUE(Poke("CHECK")) << ClientLog();
    EXPECT_EQ(ClientPokes().back(), "CHECK:\\r\\none^" + server + "^one^one@x^***^2\\r\\nthree^" +
                                        server + "^three^three@x^***^1\\r\\n");
    ASSERT_TRUE(Poke("CLOSE"));
    ASSERT_EQ(WaitForSingleObject(agent.get(), test::kWaitLimitMs), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(agent.get(), &code);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(PumpUntil([this] { return Contains(ClientLog(), "ack: CLOSE"); }));
}

} // namespace
} // namespace pw
