// The client's files at start-up while the client holds them (it writes them with no sharing):
// a file held a moment is read once it is free; one held for longer is read as missing and the
// trace says so, and the agent's own settings file, unread, lets no password go in clear text.
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
        server_.AddMailbox({"one", "pw", {}});
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

    // Each named file refuses that many opens as a file open in another program does.
    void Hold(std::map<std::string, int> opens) {
        SetClientFileOpener([opens = std::move(opens)](const std::string& path) mutable -> HANDLE {
            for (auto& [name, left] : opens) {
                if (path.size() >= name.size() &&
                    path.compare(path.size() - name.size(), name.size(), name) == 0 && left > 0) {
                    --left;
                    SetLastError(ERROR_SHARING_VIOLATION);
                    return INVALID_HANDLE_VALUE;
                }
            }
            return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        });
    }

    static constexpr int kForGood = 1000000;
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
    WriteTextFile(dir_ + "Corvex.INI", "[Auto Schedule]\r\nType=1\r\n");
    Hold({{"pwagent.ini", kForGood}});
    TPlaceHolder& agent = Start({"1"});
    SetClientFileOpener(nullptr);
    EXPECT_TRUE(Traced("alert: pwagent.ini cannot be read"));
    agent.CheckNow1Click();
    EXPECT_TRUE(Traced("alert: pwagent: one@x cannot be checked: the password would be sent in "
                       "clear text"));
    const auto transcript = server_.Transcript();
    EXPECT_EQ(std::count(transcript.begin(), transcript.end(), "USER one"), 0);
}

} // namespace
} // namespace pw
