// The POP3 client against the scripted server (and dovecot when the runner provides it): the
// login dialogue, STAT, and counting new messages against a known-ids file.
#include "MailTesting.h"

#include "core/MemoryStream.h"
#include "mail/mspop3.h"
#include "support/DovecotEnv.h"
#include "support/WindowsSendErrors.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <fstream>
#include <iterator>

namespace pw {
namespace {

using test::ErrorOf;
using test::MailMessage;
using test::Response;
using test::ScriptedPop3Server;
using test::SessionScript;

MailMessage Message(const std::string& uid, const std::string& extraHeaders = "") {
    return {"From: a@example.org\r\nSubject: " + uid + "\r\n" + extraHeaders, "Hello\r\nWorld\r\n",
            uid};
}

std::vector<std::string> From(const std::vector<std::string>& lines, size_t first) {
    return {lines.begin() + static_cast<std::ptrdiff_t>(std::min(first, lines.size())),
            lines.end()};
}

class Pop3Test : public ::testing::Test {
protected:
    void SetUp() override { test::PrepareAlicesClient(pop); }
    void TearDown() override {
        if (!knownIdsFile.empty())
            std::remove(knownIdsFile.c_str());
    }

    void Serve(std::vector<MailMessage> messages, const SessionScript& script = {}) {
        server.AddMailbox({"alice", "secret", std::move(messages)});
        test::StartWith(server, script);
        pop.Server = test::Loopback(server.Port());
    }
    void WriteKnownIds(const std::string& text) {
        knownIdsFile = pop.KnownIdsFileName();
        std::ofstream(knownIdsFile, std::ios::binary) << text;
    }
    // Commands after USER, PASS and STAT.
    std::vector<std::string> AfterLogin() const { return From(server.Transcript(), 3); }

    ScriptedPop3Server server;
    TmsRemotePOP pop;
    std::string knownIdsFile;
};

TEST_F(Pop3Test, LoginReadsStatAndLogoutQuits) {
    Serve({Message("u1"), Message("u2"), Message("u3")});
    pop.OpenMailbox();
    pop.OpenMailbox(); // open already: nothing more on the wire
    EXPECT_EQ(pop.MessageCount, 3);
    EXPECT_EQ(pop.MailboxSize, static_cast<int32_t>(3 * Message("u1").Size()));
    pop.CloseMailbox();
    pop.CloseMailbox();
    EXPECT_FALSE(pop.IsSocketOpen());
    EXPECT_EQ(server.Transcript(),
              (std::vector<std::string>{"USER alice", "PASS secret", "STAT", "QUIT"}));
}

TEST_F(Pop3Test, CountStopsAtTheFirstKnownIdNewestFirst) {
    Serve({Message("u1"), Message("u2"), Message("u3")});
    WriteKnownIds("u1;2004-01-01\r\n  u2 ; 2004-01-02\r\n");
    pop.OpenMailbox();
    pop.CountNewMessages();
    EXPECT_EQ(AfterLogin(), (std::vector<std::string>{"LIST 3", "TOP 3 1", "UIDL 3", "LIST 2",
                                                      "TOP 2 1", "UIDL 2"}));
    EXPECT_EQ(pop.NewMessageCount, 1);
    EXPECT_EQ(pop.NewMessageSize, static_cast<int32_t>(Message("u3").Size()));
}

TEST_F(Pop3Test, WithoutKnownIdsEveryMessageCountsEvenByteByByte) {
    SessionScript script;
    script.packetSize = 1;
    script.packetGapMs = 0;
    Serve({Message("u1"), Message("u2, with more")}, script);
    pop.OpenMailbox();
    pop.CountNewMessages();
    EXPECT_EQ(pop.NewMessageCount, 2);
    EXPECT_EQ(pop.NewMessageSize,
              static_cast<int32_t>(Message("u1").Size() + Message("u2, with more").Size()));
    EXPECT_EQ(AfterLogin().size(), 6u);
}

TEST_F(Pop3Test, IdsFallBackToXUidlThenMessageId) {
    // No UIDL ids: the server answers UIDL negatively.
    Serve({Message("", "X-UIDL: xid1\r\n"), Message("", "X-UIDL: xid2\r\n"),
           Message("", "X-UIDL:  \r\nMessage-ID: <m3@example.org>\r\n")});
    pop.OpenMailbox();

    WriteKnownIds("<m3@example.org>\r\n");
    pop.CountNewMessages();
    EXPECT_EQ(pop.NewMessageCount, 0);
    EXPECT_EQ(AfterLogin().size(), 3u);

    WriteKnownIds("xid2\r\n");
    pop.CountNewMessages();
    EXPECT_EQ(pop.NewMessageCount, 1);
    EXPECT_EQ(AfterLogin().size(), 9u);
}

TEST_F(Pop3Test, KnownIdsMatchFieldOneExactly) {
    pop.KnownIds = {"abc ; 2004-01-01", "ABD"};
    EXPECT_TRUE(pop.IsKnownId("abc"));
    EXPECT_FALSE(pop.IsKnownId("ABC"));
    EXPECT_FALSE(pop.IsKnownId("abd"));
    EXPECT_FALSE(pop.IsKnownId(""));
    pop.KnownIds.push_back(";only a comment");
    EXPECT_TRUE(pop.IsKnownId(""));
}

TEST_F(Pop3Test, StatWithoutNumbersKeepsTheCountAndBadNumbersRaise) {
    SessionScript bare;
    bare.replies["STAT"] = Response::Line("+OK");
    SessionScript bad;
    bad.replies["STAT"] = Response::Line("+OK x 5");
    server.QueueScript(bare);
    server.QueueScript(bad);
    Serve({Message("u1")});

    pop.MessageCount = 7;
    pop.OpenMailbox();
    EXPECT_EQ(pop.MessageCount, 7);
    pop.CloseMailbox();

    EXPECT_THROW(pop.OpenMailbox(), EConvertError);
    EXPECT_TRUE(pop.IsSocketOpen()); // a failed login leaves the caller to close
    pop.Close();
}

TEST_F(Pop3Test, NegativeOrMissingRepliesRaiseServerErrors) {
    SessionScript refused;
    refused.replies["PASS"] = Response::Line("-ERR [AUTH] Authentication failed.");
    SessionScript cut;
    cut.greeting = Response::Raw("+OK half a greeting").ThenClose();
    server.QueueScript(refused);
    server.QueueScript(cut);
    Serve({});

    EXPECT_EQ(ErrorOf<EServerError>([&] { pop.OpenMailbox(); }),
              "-ERR [AUTH] Authentication failed.");
    pop.Close();

    // A server that closes mid-line fails the step at once with an empty text.
    test::Stopwatch clock;
    EXPECT_EQ(ErrorOf<EServerError>([&] { pop.OpenMailbox(); }), "");
    EXPECT_LT(clock.Elapsed(), 5000u);
    EXPECT_FALSE(pop.IsSocketOpen());
}

TEST_F(Pop3Test, CloseMailboxClosesTheSocketWhateverQuitMeets) {
    SessionScript refusesQuit;
    refusesQuit.replies["QUIT"] = Response::Line("-ERR not now");
    server.QueueScript(refusesQuit);
    Serve({Message("u1")});

    pop.OpenMailbox();
    EXPECT_EQ(ErrorOf<EServerError>([&] { pop.CloseMailbox(); }), "-ERR not now");
    EXPECT_FALSE(pop.IsSocketOpen());

    pop.OpenMailbox();
    {
        test::WindowsSendErrors windows(test::WindowsSendErrors::Mode::EverySendFails);
        EXPECT_EQ(ErrorOf<ESocketError>([&] { pop.CloseMailbox(); }),
                  "[10057] Socket is not connected");
    }
    EXPECT_FALSE(pop.IsSocketOpen());
    pop.OpenMailbox(); // the next session is a new connection, not a no-op on a dead one
    pop.CloseMailbox();
    EXPECT_EQ(server.ConnectionCount(), 3u);
}

// A hostile server: it claims a million messages and gives each a new id, slowly if asked.
SessionScript EndlessMailbox(int replyDelayMs = 0) {
    SessionScript script;
    script.replyDelayMs = replyDelayMs;
    script.handler = [](const test::CommandContext& c) -> std::optional<Response> {
        if (c.verb == "STAT")
            return Response::Line("+OK 1000000 100000000");
        if (c.verb == "LIST")
            return Response::Line("+OK " + c.argument + " 100");
        if (c.verb == "TOP")
            return Response::MultiLine("+OK", "Subject: " + c.argument + "\r\n");
        if (c.verb == "UIDL")
            return Response::Line("+OK " + c.argument + " new-" + c.argument);
        return std::nullopt;
    };
    return script;
}

TEST_F(Pop3Test, AWalkThatNeverEndsIsStoppedByItsBounds) {
    server.QueueScript(EndlessMailbox());
    server.QueueScript(EndlessMailbox(50));
    Serve({});
    pop.MaxMessagesExamined = 20;
    pop.OpenMailbox();
    EXPECT_EQ(ErrorOf<EServerLimitError>([&] { pop.CountNewMessages(); }),
              "walk stopped after 20 messages: the limit for one mailbox");
    const auto transcript = server.Transcript();
    EXPECT_EQ(std::count_if(transcript.begin(), transcript.end(),
                            [](const std::string& line) { return line.rfind("TOP ", 0) == 0; }),
              20);
    pop.CloseMailbox(); // the dialogue is in step: QUIT is answered
    EXPECT_EQ(server.Transcript().back(), "QUIT");

    pop.MaxMessagesExamined = 50000;
    pop.WalkTimeLimit = 1;
    pop.OpenMailbox();
    EXPECT_EQ(ErrorOf<EServerLimitError>([&] { pop.CountNewMessages(); }),
              "walk stopped after 1 s: the time limit for one mailbox");
    pop.CloseMailbox();
}

TEST_F(Pop3Test, AHeaderBlockPastTheBoundFailsTheMailboxClosed) {
    SessionScript script;
    script.replies["TOP"] =
        Response::MultiLine("+OK", "Subject: big\r\n" + std::string(2 * 1024 * 1024, 'x') + "\r\n");
    Serve({Message("u1")}, script);
    pop.OpenMailbox();
    EXPECT_EQ(ErrorOf<EServerLimitError>([&] { pop.CountNewMessages(); }),
              "reply longer than 1048576 bytes");
    EXPECT_FALSE(pop.IsSocketOpen());
}

TEST_F(Pop3Test, MissingUserOrPasswordFailsBeforeAnyConnection) {
    Serve({});
    std::vector<std::string> events;
    pop.OnOpen = [&](TObject&) { events.push_back("open"); };
    pop.OnError = [&](TObject&, std::string& msg) { events.push_back(msg); };
    pop.UserName.clear();
    EXPECT_EQ(ErrorOf<ESocketError>([&] { pop.OpenMailbox(); }), "UserName property is required");
    pop.UserName = "alice";
    pop.Password.clear();
    EXPECT_EQ(ErrorOf<ESocketError>([&] { pop.OpenMailbox(); }), "Password property is required");
    EXPECT_EQ(events, (std::vector<std::string>{"UserName property is required",
                                                "Password property is required"}));
    EXPECT_EQ(server.ConnectionCount(), 0u);
}

TEST_F(Pop3Test, MessageDirectoryAndSaveMessage) {
    pop.SetMessageDirectory("C:\\Mail");
    EXPECT_EQ(pop.MessageDirectory(), "C:\\Mail\\");
    pop.SetMessageDirectory("C:\\Mail\\");
    EXPECT_EQ(pop.MessageDirectory(), "C:\\Mail\\");
    pop.SetMessageDirectory("");
    EXPECT_EQ(pop.MessageDirectory(), "");

    char temp[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    pop.SetMessageDirectory(std::string(temp));
    TMemoryStream stream;
    stream.Write("Subject: saved\r\n\r\nbody\r\n");
    pop.SaveMessage(7, stream);
    const std::string path = std::string(temp) + "msg_7.eml";
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), stream.Data());
    file.close();
    std::remove(path.c_str());

    int handed = 0;
    pop.OnUserMessageSave = [&](TObject&, int32_t num, TMemoryStream& contents) {
        handed = num;
        EXPECT_EQ(&contents, &stream);
    };
    pop.SaveMessage(8, stream);
    EXPECT_EQ(handed, 8);
    EXPECT_FALSE(std::ifstream(std::string(temp) + "msg_8.eml").good());
}

class Pop3DovecotTest : public test::DovecotTest {};

TEST_F(Pop3DovecotTest, CountsTheOneNewMessageAgainstARealServer) {
    const test::DovecotUser& user = dovecot.User(0);
    dovecot.ClearMailbox(user.name);
    dovecot.Deliver(user.name, "Subject: old\r\nMessage-ID: <old@pwtest>\r\n\r\nold\r\n");
    dovecot.Deliver(user.name, "Subject: new\r\nMessage-ID: <new@pwtest>\r\n\r\nnew\r\n");

    TmsRemotePOP pop;
    dovecot.LogInAs(pop, user);
    pop.OpenMailbox();
    ASSERT_EQ(pop.MessageCount, 2);
    // Mark the older message as fetched by its UIDL id.
    const std::string oldId = pop.GetUniqueId(0, "");
    ASSERT_FALSE(oldId.empty());
    const std::string file = pop.KnownIdsFileName();
    std::ofstream(file, std::ios::binary) << oldId << ";pwtest\r\n";
    pop.CountNewMessages();
    std::remove(file.c_str());
    EXPECT_EQ(pop.NewMessageCount, 1);
    EXPECT_GT(pop.NewMessageSize, 0);
    pop.CloseMailbox();
    EXPECT_FALSE(pop.IsSocketOpen());
}

} // namespace
} // namespace pw
