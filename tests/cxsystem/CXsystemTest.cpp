// CXsystem.exe, the stand-in mail client, run as the agent runs it: "/PWGM" in a folder of its
// own with the client's files, against the scripted POP3 server; and as a plain window program.
#include "core/Delimited.h"
#include "core/Password.h"
#include "core/Text.h"
#include "pop3script/ScriptedPop3Server.h"
#include "support/Testing.h"
#include "support/WindowsPath.h"
#include "win/Handles.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <optional>
#include <string>
#include <vector>

namespace pw {
namespace {

using test::Mailbox;
using test::MailMessage;
using test::ScriptedPop3Server;
using test::SessionScript;

constexpr DWORD kRunLimitMs = 60000;

std::string StandInExePath() {
    return test::WindowsPath(PW_CXSYSTEM_EXE);
}

using test::AccountLine;
using test::FileExists;
using test::ReadAll;

std::vector<std::string> KnownIds(const std::string& path) {
    std::vector<std::string> ids;
    for (const std::string& line : SplitLines(ReadAll(path)))
        ids.push_back(Trim(GetDelimitedField(1, line, ';')));
    return ids;
}

std::string FirstLine(const std::string& path) {
    const std::vector<std::string> lines = SplitLines(ReadAll(path));
    return lines.empty() ? std::string() : lines.front();
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

struct StartedProcess {
    UniqueKernelHandle process;
    DWORD id = 0;

    // The exit code, or -1 when it has not ended within the limit (it is then killed).
    long WaitForExit(DWORD limitMs = kRunLimitMs) {
        if (WaitForSingleObject(process.get(), limitMs) != WAIT_OBJECT_0) {
            TerminateProcess(process.get(), 99);
            WaitForSingleObject(process.get(), 5000);
            return -1;
        }
        DWORD code = 0;
        GetExitCodeProcess(process.get(), &code);
        return static_cast<long>(code);
    }
};

// The stand-in's settings from the environment, absent for the scope and put back after it.
struct StandInSettingsCleared {
    test::ScopedEnvironmentVariable log{"PW_CXSTAND_LOG", std::nullopt};
    test::ScopedEnvironmentVariable exitAfter{"PW_CXSTAND_EXIT_AFTER_MS", std::nullopt};
    test::ScopedEnvironmentVariable timeOut{"PW_CXSTAND_TIMEOUT_MS", std::nullopt};
};

// A folder with a copy of CXsystem.exe, which is also the working directory of its runs: the
// layout the agent starts the client in.
class StandInFolder {
public:
    StandInFolder() : folder_("pwcx-"), path_(folder_.Path()) {
        exe_ = File("CXsystem.exe");
        copied_ = CopyFileA(StandInExePath().c_str(), exe_.c_str(), FALSE) != 0;
    }

    bool Ready() const { return copied_; }
    std::string File(const std::string& name) const { return folder_.File(name); }

    StartedProcess Start(const std::string& arguments, WORD show = SW_SHOWMINNOACTIVE) const {
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = show;
        PROCESS_INFORMATION info = {};
        std::string commandLine = "CXsystem.exe " + arguments;
        StartedProcess started;
        if (CreateProcessA(exe_.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                           path_.c_str(), &startup, &info)) {
            CloseHandle(info.hThread);
            started.process.reset(info.hProcess);
            started.id = info.dwProcessId;
        }
        return started;
    }

    long Run(const std::string& arguments) const { return Start(arguments).WaitForExit(); }

private:
    test::TempFolder folder_;
    std::string path_;
    std::string exe_;
    bool copied_ = false;
};

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK MatchClientWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (owner != search->processId || std::string(className) != "TCXCmainForm")
        return TRUE;
    search->found = window;
    return FALSE;
}

// The top-level window of class "TCXCmainForm" owned by the process, waiting up to limitMs.
HWND FindClientWindow(DWORD processId, DWORD limitMs = 20000) {
    WindowSearch search{processId, nullptr};
    const DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(MatchClientWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr || GetTickCount() - start >= limitMs)
            return search.found;
        Sleep(100);
    }
}

MailMessage Message(const std::string& uid, const std::string& subject, std::string body) {
    MailMessage m;
    m.uid = uid;
    m.headers = "From: a@example.org\nSubject: " + subject + "\nMessage-ID: <" + uid + "@x>";
    m.body = std::move(body);
    return m;
}

class CXsystemRetrieval : public ::testing::Test {
protected:
    const StandInSettingsCleared cleared_;
    void SetUp() override {
        ASSERT_TRUE(folder.Ready()) << "cannot copy " << StandInExePath();
        server.Start();
        serverName = "127.0.0.1:" + std::to_string(server.Port());
    }
    void TearDown() override { server.Stop(); }

    std::vector<std::string> Commands() const { return server.Transcript(); }
    std::string Log() const { return ReadAll(folder.File("CXsystem.log")); }

    StandInFolder folder;
    ScriptedPop3Server server;
    std::string serverName;
};

TEST_F(CXsystemRetrieval, FetchesOnlyUnknownMessagesRecordsTheirIdsAndReportsTheCount) {
    const MailMessage dotted = Message("uid-3", "third", "..starts with a dot\n.\nend\n");
    server.AddMailbox(
        {"joe",
         "Pa55 w0rd",
         {Message("uid-1", "first", "one\n"), Message("uid-2", "second", "two\n"), dotted}});
    test::WriteTextFile(folder.File("vtMailDa.dat"),
                        AccountLine("joe@example.org", serverName, "joe", "Pa55 w0rd"));
    const std::string knownIds = folder.File("joe@" + serverName + ".MES");
    test::WriteTextFile(knownIds, " uid-2 ; 2020-01-01 10:00:00\r\n");

    ASSERT_EQ(folder.Run("/PWGM"), 0);
    std::vector<std::string> commands = Commands();
    EXPECT_TRUE(Contains(commands, "RETR 1"));
    EXPECT_TRUE(Contains(commands, "RETR 3"));
    EXPECT_FALSE(Contains(commands, "RETR 2"));
    EXPECT_TRUE(Contains(commands, "PASS Pa55 w0rd"));
    EXPECT_EQ(commands.back(), "QUIT");
    for (const std::string& command : commands)
        EXPECT_FALSE(StartsWith(command, "DELE")) << command;
    EXPECT_EQ(KnownIds(knownIds), (std::vector<std::string>{"uid-2", "uid-1", "uid-3"}));
    EXPECT_EQ(FirstLine(folder.File("PWise.flg")), "2");
    // The saved copy has the dot-stuffing undone.
    EXPECT_EQ(ReadAll(folder.File("retrieved\\joe@example.org_uid-3.eml")), dotted.Text());
    const std::string log = Log();
    EXPECT_NE(log.find("mailbox joe@example.org: 2 retrieved"), std::string::npos) << log;
    EXPECT_NE(log.find("flag file: wrote 2"), std::string::npos) << log;
    EXPECT_EQ(log.find("Pa55"), std::string::npos) << "the password is logged";

    const size_t sessionsBefore = server.ConnectionCount();
    ASSERT_EQ(folder.Run("/PWGM"), 0);
    for (const std::string& command : server.SessionTranscript(sessionsBefore))
        EXPECT_FALSE(StartsWith(command, "RETR")) << command;
    EXPECT_EQ(KnownIds(knownIds).size(), 3u);
    EXPECT_EQ(FirstLine(folder.File("PWise.flg")), "0");
}

TEST_F(CXsystemRetrieval, ContactsOnlyWatchedAddressesWithAtAndSurvivesAFailingMailbox) {
    server.AddMailbox({"nobody", "pw", {Message("n-1", "never", "x\n")}});
    server.AddMailbox({"hidden", "pw", {Message("h-1", "never", "x\n")}});
    server.AddMailbox({"ann", "pw", {Message("a-1", "hello", "x\n")}});
    const std::string refused = "127.0.0.1:" + std::to_string(ScriptedPop3Server::UnusedPort());
    test::WriteTextFile(folder.File("vtMailDa.dat"),
                        AccountLine("no-at-sign", serverName, "nobody", "pw") +
                            AccountLine("gone@example.org", refused, "gone", "pw") +
                            AccountLine("hidden@example.org", serverName, "hidden", "pw", "True") +
                            "0^skipped@example.org^" + serverName + "^^^False^^nobody\r\n" +
                            AccountLine("ann@example.org", serverName, "ann", "pw"));
    // A stale flag file with more lines is replaced by the count alone.
    test::WriteTextFile(folder.File("PWise.flg"), "7\r\nold\r\n");

    ASSERT_EQ(folder.Run("/PWGM"), 0);
    EXPECT_EQ(server.ConnectionCount(), 1u);
    EXPECT_TRUE(Contains(Commands(), "USER ann"));
    EXPECT_TRUE(Contains(Commands(), "RETR 1"));
    EXPECT_EQ(ReadAll(folder.File("PWise.flg")), "1\r\n");
    EXPECT_FALSE(FileExists(folder.File("nobody@" + serverName + ".MES")));
    const std::string log = Log();
    EXPECT_NE(log.find("mailbox no-at-sign: skipped"), std::string::npos) << log;
    EXPECT_NE(log.find("mailbox gone@example.org: failed after 0 retrieved"), std::string::npos)
        << log;
}

TEST_F(CXsystemRetrieval, SilentServerTimesOutAndTheNextMailboxIsStillServed) {
    SessionScript silent;
    silent.replies["UIDL"] = test::Response::Hang();
    server.QueueScript(silent);
    server.AddMailbox({"slow", "pw", {Message("s-1", "stuck", "x\n")}});
    server.AddMailbox({"fast", "pw", {Message("f-1", "hello", "x\n")}});
    test::WriteTextFile(folder.File("vtMailDa.dat"),
                        AccountLine("slow@example.org", serverName, "slow", "pw") +
                            AccountLine("fast@example.org", serverName, "fast", "pw"));
    const test::ScopedEnvironmentVariable timeOut("PW_CXSTAND_TIMEOUT_MS", "1500");
    const std::string customLog = folder.File("custom.log");
    const test::ScopedEnvironmentVariable logSetting("PW_CXSTAND_LOG", customLog);

    ASSERT_EQ(folder.Run("/PWGM"), 0);
    EXPECT_EQ(FirstLine(folder.File("PWise.flg")), "1");
    EXPECT_FALSE(FileExists(folder.File("slow@" + serverName + ".MES")));
    EXPECT_EQ(KnownIds(folder.File("fast@" + serverName + ".MES")),
              std::vector<std::string>{"f-1"});
    EXPECT_FALSE(FileExists(folder.File("CXsystem.log")));
    const std::string log = ReadAll(customLog);
    EXPECT_NE(log.find("mailbox slow@example.org: failed after 0 retrieved: Operation timed out"),
              std::string::npos)
        << log;
}

TEST(CXsystemWindow, PlainStartOwnsTheClientWindowMinimisedUntilClosed) {
    const StandInSettingsCleared cleared;
    StandInFolder folder;
    ASSERT_TRUE(folder.Ready());
    StartedProcess client = folder.Start("ann@example.org^bob@example.org");
    ASSERT_TRUE(client.process);
    const HWND window = FindClientWindow(client.id);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsIconic(window));
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ(caption, "CXsystem stand-in");
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(client.WaitForExit(), 0);
    EXPECT_FALSE(FileExists(folder.File("PWise.flg")));
    const std::string log = ReadAll(folder.File("CXsystem.log"));
    EXPECT_NE(log.find("start: arguments \"ann@example.org^bob@example.org\""), std::string::npos)
        << log;
    EXPECT_NE(log.find("exit: code 0"), std::string::npos) << log;
}

TEST(CXsystemWindow, EndsByItselfAfterTheRequestedTime) {
    StandInFolder folder;
    ASSERT_TRUE(folder.Ready());
    EXPECT_EQ(folder.Run("/EXITAFTER:300"), 0);
    const test::ScopedEnvironmentVariable exitAfter("PW_CXSTAND_EXIT_AFTER_MS", "300");
    EXPECT_EQ(folder.Run(""), 0);
}

} // namespace
} // namespace pw
