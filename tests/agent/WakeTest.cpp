// A desktop that sleeps and servers that say why, at the agent's level: the real window messages
// (the system's resume message, a clock change, the tray's balloon click) and the real handlers,
// with an injected clock of both kinds, against the scripted POP3 server.
#include "agent/PWiseF.h"
#include "pop3script/ScriptedPop3Server.h"
#include "support/AgentTesting.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>

namespace pw {
namespace {

using test::AccountLine;
using test::Mailbox;
using test::MailMessage;
using test::ScriptedPop3Server;
using test::WriteTextFile;

constexpr uint64_t kMinuteMs = 60 * 1000;

class WakeTest : public test::AgentHarness {
protected:
    WakeTest() : AgentHarness("pw-wake-") {}

    TPlaceHolder& Start(std::vector<std::string> args) {
        TPlaceHolder& agent = AgentHarness::Start(std::move(args));
        agent.TrayIcon1.ShellNotifyIcon = [this](DWORD message, TNotifyIconData* data) {
            if (message == NIM_MODIFY && (data->uFlags & NIF_INFO) != 0)
                balloons_.push_back(data->szInfo);
            return TRUE;
        };
        return agent;
    }

    // Both clocks move on; the local time by whole minutes.
    void Pass(uint64_t minutes) {
        mono_ += minutes * kMinuteMs;
        SetLocalTime(LocalPlus(minutes));
    }
    SYSTEMTIME LocalPlus(uint64_t minutes) const {
        FILETIME file{};
        SystemTimeToFileTime(&now_, &file);
        ULARGE_INTEGER value{};
        value.LowPart = file.dwLowDateTime;
        value.HighPart = file.dwHighDateTime;
        value.QuadPart += minutes * 60 * 10000000ull;
        file.dwLowDateTime = value.LowPart;
        file.dwHighDateTime = value.HighPart;
        SYSTEMTIME time{};
        FileTimeToSystemTime(&file, &time);
        return time;
    }
    void SetLocalTime(const SYSTEMTIME& time) { now_ = time; }
    void SetClock(int hour, int minute) {
        now_.wHour = static_cast<WORD>(hour);
        now_.wMinute = static_cast<WORD>(minute);
    }
    // A minute passes and the minute tick comes.
    void Ticks(TPlaceHolder& agent, int count) {
        for (int i = 0; i < count; ++i) {
            Pass(1);
            agent.ExeTimerTimer();
        }
    }
    void Resume(TPlaceHolder& agent, WPARAM event = PBT_APMRESUMEAUTOMATIC) {
        SendMessageA(agent.FormHandle(), WM_POWERBROADCAST, event, 0);
    }
    int Checks() const { return CountTrace("check due"); }

    std::vector<std::string> balloons_;
};

TEST_F(WakeTest, CountdownCatchesUpOnceAfterTheResumeMessageAndCountsOnFromThatCheck) {
    TPlaceHolder& agent = Start({"30"});
    Ticks(agent, 10);
    Pass(8 * 60); // a night asleep
    Resume(agent, PBT_APMRESUMESUSPEND);
    Resume(agent, PBT_APMRESUMEAUTOMATIC); // the same wake
    EXPECT_EQ(CountTrace("awake: the system resumed"), 1);
    EXPECT_TRUE(agent.CatchUpTimer.Enabled());
    EXPECT_EQ(Checks(), 0);
    Ticks(agent, 1); // a tick just after the wake is no gap, and leaves the check to the catch-up
    EXPECT_EQ(CountTrace("awake: the system resumed"), 1);
    EXPECT_EQ(Checks(), 0);
    agent.CatchUpTimerTimer();
    EXPECT_EQ(Checks(), 1);
    EXPECT_FALSE(agent.CatchUpTimer.Enabled());
    Ticks(agent, 29);
    EXPECT_EQ(Checks(), 1);
    Ticks(agent, 1);
    EXPECT_EQ(Checks(), 2);
}

// A process that was frozen gets no power message: the tick finds the gap by itself.
TEST_F(WakeTest, ATickAfterAGapCountsTheRealMinutesOrCatchesUpOnce) {
    TPlaceHolder& agent = Start({"30"});
    Ticks(agent, 10);
    Pass(15);
    Ticks(agent, 1);
    EXPECT_EQ(Probe().MinutesElapsed(), 26);
    EXPECT_FALSE(agent.CatchUpTimer.Enabled());
    Ticks(agent, 3);
    EXPECT_EQ(Checks(), 0);
    Ticks(agent, 1);
    EXPECT_EQ(Checks(), 1);

    Pass(3 * 60);
    Ticks(agent, 1);
    ASSERT_TRUE(agent.CatchUpTimer.Enabled());
    Resume(agent); // the message comes late: the same wake
    Ticks(agent, 1);
    EXPECT_EQ(Checks(), 1);
    agent.CheckNow1Click(); // the user does not wait: this check serves the catch-up
    EXPECT_EQ(Checks(), 2);
    EXPECT_TRUE(Traced("catch-up check: served by this check"));
    EXPECT_FALSE(agent.CatchUpTimer.Enabled());
}

TEST_F(WakeTest, ScheduleCatchesUpOnceAndNeverChecksAMinuteTwiceAcrossClockChanges) {
    WriteTextFile(dir_ + "Corvex.INI", "[Auto Schedule]\r\nType=2\r\nTime1=07:00\r\n"
                                       "Time2=12:00\r\nTime3=13:00\r\nTime4=18:00\r\n");
    SetClock(6, 59);
    TPlaceHolder& agent = Start({"1"});
    Ticks(agent, 1); // 07:00
    EXPECT_EQ(Checks(), 1);
    Pass(6 * 60 + 29); // asleep over 12:00 and 13:00, awake at 13:29
    Resume(agent);
    EXPECT_TRUE(Traced("awake: 2 scheduled times were missed: a catch-up check in 20 s"));
    agent.CatchUpTimerTimer();
    EXPECT_EQ(Checks(), 2);
    Ticks(agent, 1);

    SetClock(12, 59); // set back: 13:00 comes again and was served
    SendMessageA(agent.FormHandle(), WM_TIMECHANGE, 0, 0);
    Ticks(agent, 1);
    EXPECT_EQ(Checks(), 2);
    EXPECT_TRUE(Traced("minute tick: this scheduled minute was checked already"));
    SetClock(17, 59); // set forward: the table follows the new time
    SendMessageA(agent.FormHandle(), WM_TIMECHANGE, 0, 0);
    Ticks(agent, 1);
    EXPECT_EQ(Checks(), 3);
    EXPECT_FALSE(agent.CatchUpTimer.Enabled()); // a clock change is no sleep

    Pass(13 * 60); // to 07:00 of the next day, found by the tick alone
    Ticks(agent, 30);
    agent.CatchUpTimerTimer();
    EXPECT_EQ(Checks(), 4);
}

class ServerReasonsTest : public WakeTest {
protected:
    void SetUp() override {
        WakeTest::SetUp();
        for (const char* user : {"inuse", "delay", "temp", "perm", "auth", "plain"}) {
            MailMessage m;
            m.headers = "Subject: hi";
            m.uid = std::string(user) + "-1";
            server_.AddMailbox(Mailbox{user, user, {m}});
        }
        test::SessionScript script;
        script.handler =
            [this](const test::CommandContext& command) -> std::optional<test::Response> {
            if (command.verb == "CAPA" && !capabilities_.empty())
                return test::Response::MultiLine("+OK", capabilities_);
            static const std::map<std::string, std::string> replies = {
                {"inuse", "-ERR [in-use] maildrop locked"},
                {"delay", "-ERR [Login-Delay] not so often"},
                {"temp", "-ERR [SYS/TEMP] try later"},
                {"perm", "-ERR [Sys/Perm] Your account perm is not enabled for POP access"},
                {"auth", "-ERR [AUTH] bad password"},
                {"plain", "-ERR no"},
            };
            const auto reply = replies.find(command.argument);
            if (command.verb != "PASS" || reply == replies.end())
                return std::nullopt;
            return test::Response::Line(reply->second);
        };
        server_.SetScript(script);
        server_.Start();
        const std::string server = "127.0.0.1:" + std::to_string(server_.Port());
        std::string accounts;
        for (const char* user : {"inuse", "delay", "temp", "perm", "auth", "plain"})
            accounts += AccountLine(std::string(user) + "@x", server, user, user);
        WriteTextFile(dir_ + "vtMailDa.dat", accounts);
    }
    int Logins(const std::string& user) const {
        const auto transcript = server_.Transcript();
        return static_cast<int>(std::count(transcript.begin(), transcript.end(), "USER " + user));
    }
    ScriptedPop3Server server_;
    std::string capabilities_; // the answer to CAPA; none: the server knows no CAPA
};

TEST_F(ServerReasonsTest, EachCodeIsToldOrNotAsItDeservesInOneBalloonPerCheck) {
    TPlaceHolder& agent = Start({"1"});
    agent.CheckNow1Click();
    ASSERT_EQ(balloons_.size(), 1u);
    EXPECT_EQ(balloons_[0], "pwagent: 3 mailboxes cannot be checked: perm@x: the server says: "
                            "Your account *** is not enabled for POP access; auth@x: the server "
                            "refused the login; plain@x: the server refused the login");
    EXPECT_TRUE(
        Traced("mailbox inuse@x: a failure of the moment (IN-USE); the next check as usual"));
    EXPECT_TRUE(
        Traced("mailbox temp@x: a failure of the moment (SYS/TEMP); the next check as usual"));
    EXPECT_TRUE(
        Traced("mailbox delay@x: the server asked for fewer logins (LOGIN-DELAY): not tried "
               "again for 15 minutes"));

    Pass(1);
    agent.CheckNow1Click();
    EXPECT_EQ(balloons_.size(), 1u); // told already
    EXPECT_EQ(Logins("delay"), 1);
    EXPECT_EQ(Logins("inuse"), 2);
    EXPECT_TRUE(Traced("mailbox delay@x: not tried for 14 more minutes: the server asked for "
                       "fewer logins"));
    Pass(14);
    agent.CheckNow1Click();
    EXPECT_EQ(Logins("delay"), 2);
}

// A server whose capabilities say how long it wants between logins is taken at its word, but
// never tried more often than once a minute.
TEST_F(ServerReasonsTest, TheServersOwnLoginDelayCountsButNeverLessThanAMinute) {
    capabilities_ = "PIPELINING\r\nLOGIN-DELAY 300\r\n";
    TPlaceHolder& agent = Start({"1"});
    agent.CheckNow1Click();
    EXPECT_TRUE(
        Traced("mailbox delay@x: the server asked for fewer logins (LOGIN-DELAY): not tried "
               "again for 5 minutes"));
    Pass(4);
    agent.CheckNow1Click();
    EXPECT_EQ(Logins("delay"), 1);
    Pass(1);
    agent.CheckNow1Click();
    EXPECT_EQ(Logins("delay"), 2);

    capabilities_ = "LOGIN-DELAY 5 USER\r\n";
    TPlaceHolder& again = Start({"1"}); // a new run asks again
    again.CheckNow1Click();
    EXPECT_TRUE(
        Traced("mailbox delay@x: the server asked for fewer logins (LOGIN-DELAY): not tried "
               "again for 1 minute"));
}

// Just after a wake, a server that cannot be reached yet is tried again a minute later and does
// not count towards the balloon for a server unreachable three checks in a row.
TEST_F(ServerReasonsTest, AServerUnreachableJustAfterWakingIsTriedAgainAndNotCounted) {
    const uint16_t port = ScriptedPop3Server::UnusedPort();
    WriteTextFile(dir_ + "vtMailDa.dat",
                  AccountLine("late@x", "127.0.0.1:" + std::to_string(port), "late", "pw"));
    TPlaceHolder& agent = Start({"30"});
    agent.CheckNow1Click();
    agent.CheckNow1Click(); // twice unreachable: once more would be told
    Pass(60);
    Resume(agent);
    agent.CatchUpTimerTimer();
    EXPECT_TRUE(Traced("mailbox late@x: unreachable just after waking: not counted, tried again "
                       "in a minute"));
    ASSERT_TRUE(agent.RetryTimer.Enabled());

    ScriptedPop3Server late;
    MailMessage m;
    m.headers = "Subject: hi";
    m.uid = "late-1";
    late.AddMailbox(Mailbox{"late", "pw", {m}});
    late.Start(port);
    Pass(1);
    agent.RetryTimerTimer();
    EXPECT_TRUE(Traced("retry after waking: late@x"));
    EXPECT_EQ(late.ConnectionCount(), 1u);
    EXPECT_FALSE(agent.RetryTimer.Enabled());
    EXPECT_TRUE(balloons_.empty());
    EXPECT_EQ(Checks(), 4);
}

TEST_F(WakeTest, AClickOnABalloonOpensTheStatusWindow) {
    TPlaceHolder& agent = Start({"10"});
    TpwSchedule schedule(app_->Handle());
    agent.SetStatusWindow(&schedule);
    bool shown = false;
    schedule.OnShow = [&](TpwSchedule& window) {
        shown = true;
        agent.FillStatusWindow(window);
        PostMessageA(window.Handle(), WM_CLOSE, 0, 0);
    };
    PostMessageA(agent.TrayIcon1.CallbackHandle(), TTrayIcon::kCallbackMessage, 0,
                 NIN_BALLOONUSERCLICK);
    EXPECT_TRUE(test::PumpUntil([&] { return shown && Probe().MenuEnabled(kStatus1); }));
    agent.SetStatusWindow(nullptr);
}

} // namespace
} // namespace pw
