// The client's files while the client holds them (it writes them with no sharing): at start-up a
// file held a moment is read once it is free; one held for longer is read as missing and the
// trace says so, and the agent's own settings file, unread, lets no password go in clear text.
// The flag file, read after the client ends, is waited for without the agent going deaf.
#include "agent/PWiseF.h"
#include "agent/Settings.h"
#include "pop3script/ScriptedPop3Server.h"
#include "support/AgentTesting.h"

#include <gtest/gtest.h>

#include <map>

namespace pw {
namespace {

using test::AccountLine;
using test::WriteTextFile;

class StartUpFiles : public test::AgentHarness {
protected:
    StartUpFiles() : AgentHarness("pw-startup-") {}

    void SetUp() override {
        AgentHarness::SetUp();
        server_.AddMailbox(
            {"one", "pw", {{"Subject: hi\r\nMessage-ID: <one-1@x>", "body", "one-1"}}});
        server_.Start();
        const std::string server = "127.0.0.1:" + std::to_string(server_.Port());
        WriteTextFile(dir_ + "vtMailDa.dat", AccountLine("one@x", server, "one", "pw"));
        WriteTextFile(dir_ + "setupRAS.RAS", "\r\n\r\n\r\n7\r\n");
        WriteTextFile(dir_ + "Corvex.INI", "[Auto Schedule]\r\nType=2\r\nTime1=08:15\r\n");
        WriteTextFile(dir_ + "pwagent.ini", "[Server 127.0.0.1]\r\nTLS=off\r\n");
    }
    void TearDown() override {
        SetClientFileOpener(nullptr);
        AgentHarness::TearDown();
    }

    // Each named file refuses that many opens as a file open in another program does; onOpen
    // sees every open of a named file.
    void Hold(std::map<std::string, int> opens, std::function<void()> onOpen = nullptr) {
        SetClientFileOpener([opens = std::move(opens), onOpen = std::move(onOpen)](
                                const std::string& path) mutable -> HANDLE {
            for (auto& [name, left] : opens) {
                if (path.size() < name.size() ||
                    path.compare(path.size() - name.size(), name.size(), name) != 0)
                    continue;
                if (onOpen)
                    onOpen();
                if (left > 0) {
                    --left;
                    SetLastError(ERROR_SHARING_VIOLATION);
                    return INVALID_HANDLE_VALUE;
                }
            }
            return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        });
    }

    // A check that finds the message and "retrieves" it: the client does not start, and its
    // failure to start ends the wait for it.
    TPlaceHolder& StartCountingDown() {
        WriteTextFile(dir_ + "Corvex.INI", "[Auto Schedule]\r\nType=1\r\n");
        return Start({"10"});
    }
    void RetrieveWithFlag(TPlaceHolder& agent, const std::string& flag) {
        WriteTextFile(dir_ + "PWise.flg", flag);
        agent.shoot.OnFinished = nullptr;
        agent.CheckNow1Click();
        agent.Timer1Timer();
    }

    static void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { ++ticks_; }

    static constexpr int kForGood = 1000000;
    static inline int ticks_ = 0;
    test::ScriptedPop3Server server_;
};

TEST_F(StartUpFiles, AFileHeldAMomentIsReadOnceItIsFree) {
    Hold({{"vtMailDa.dat", 2}, {"setupRAS.RAS", 3}, {"Corvex.INI", 1}, {"pwagent.ini", 2}});
    Start({"1"});
    EXPECT_EQ(Probe().AccountCount(), 1);
    EXPECT_EQ(Probe().CheckInterval(), 7);
    EXPECT_EQ(Probe().ScheduleType(), "2");
    EXPECT_EQ(Probe().AgentIni().Servers.size(), 1u);
    EXPECT_EQ(TraceText().find("cannot be read"), std::string::npos) << TraceText();
}

TEST_F(StartUpFiles, AClientFileHeldForGoodIsReadAsMissingAndTheTraceSaysSo) {
    Hold({{"vtMailDa.dat", kForGood}, {"Corvex.INI", kForGood}});
    Start({"1"});
    EXPECT_EQ(Probe().AccountCount(), 0);
    EXPECT_EQ(Probe().ScheduleType(), "");
    EXPECT_TRUE(Traced("vtMailDa.dat cannot be read (error 32): read as missing"));
    EXPECT_TRUE(Traced("Corvex.INI cannot be read (error 32): read as missing"));
}

// Its servers' settings unknown, the agent sends no password in clear text to any of them.
TEST_F(StartUpFiles, ItsOwnSettingsHeldForGoodLetNoPasswordGoInClearTextAndAreTold) {
    Hold({{"pwagent.ini", kForGood}});
    TPlaceHolder& agent = StartCountingDown();
    SetClientFileOpener(nullptr);
    EXPECT_TRUE(Traced("alert: pwagent.ini cannot be read"));
    agent.CheckNow1Click();
    EXPECT_TRUE(Traced("alert: pwagent: one@x cannot be checked: the password would be sent in "
                       "clear text"));
    const auto transcript = server_.Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "USER one"), 0);
}

// A timer's messages are dispatched between the tries: the tray and the client are answered.
TEST_F(StartUpFiles, AFlagFileHeldAMomentAfterTheClientIsReadWhileMessagesAreAnswered) {
    TPlaceHolder& agent = StartCountingDown();
    ticks_ = 0;
    int ticksAtLastOpen = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, &CountTick);
    Hold({{"PWise.flg", 3}}, [&] { ticksAtLastOpen = ticks_; });
    RetrieveWithFlag(agent, "2\r\n");
    KillTimer(nullptr, timer);
    EXPECT_EQ(Probe().ArrivedCount(), 2);
    EXPECT_GT(ticksAtLastOpen, 0);
}

// Held for longer than the wait, it tells no count; it is there, so the agent stays.
TEST_F(StartUpFiles, AFlagFileHeldForGoodCountsNoMessageAndTheAgentStays) {
    TPlaceHolder& agent = StartCountingDown();
    Hold({{"PWise.flg", kForGood}});
    RetrieveWithFlag(agent, "2\r\n");
    EXPECT_EQ(Probe().ArrivedCount(), 0);
    EXPECT_TRUE(Traced("PWise.flg cannot be read (error 32): read as missing")) << TraceText();
    agent.Timer1Timer();
    EXPECT_EQ(ends_, 0);
}

} // namespace
} // namespace pw
