// The POP3 client against the scripted server (and dovecot when the runner provides it): the
// login dialogue, STAT, and counting new messages against a known-ids file.
#include "MailTesting.h"

#include "core/MemoryStream.h"
#include "mail/mspop3.h"
#include "support/DovecotEnv.h"

#include <cstdio>
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
    void SetUp() override {
        pop.SetWinsockLoaded(true);
        pop.SetTimeOut(30);
        pop.UserName = "alice";
        pop.Password = "secret";
    }
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
    pop.Close();
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
    pop.SetWinsockLoaded(true);
    pop.SetTimeOut(30);
    pop.Server = dovecot.Server();
    pop.UserName = user.name;
    pop.Password = user.password;
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
