// The POP3 client that asks a server's capabilities once and pipelines where it may: the
// commands on the wire, how many sends carry them, and replies matched to their commands
// whatever the server answers, against the scripted server and dovecot.
#include "MailTesting.h"

#include "mail/mspop3.h"
#include "support/DovecotEnv.h"
#include "support/WinsockCalls.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <utility>

namespace pw {
namespace {

using test::ErrorOf;
using test::PlainMessage;
using test::Response;
using test::ScriptedPop3Server;
using test::SessionScript;

const std::vector<std::string> kSession = {"USER alice", "PASS secret", "STAT",   "LIST 3",
                                           "TOP 3 1",    "UIDL 3",      "LIST 2", "TOP 2 1",
                                           "UIDL 2",     "QUIT"};

Response Capabilities(const std::string& list) {
    return Response::MultiLine("+OK Capability list follows", list);
}

class Pop3PipeliningTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::PrepareAlicesClient(pop);
        pop.AskCapabilities = true;
    }
    void TearDown() override { std::remove(pop.KnownIdsFileName().c_str()); }

    void Serve(const SessionScript& script) {
        server.AddMailbox(
            {"alice", "secret", {PlainMessage("u1"), PlainMessage("u2"), PlainMessage("u3")}});
        test::StartWith(server, script);
        pop.Server = test::Loopback(server.Port());
    }
    void KnowU2() { std::ofstream(pop.KnownIdsFileName(), std::ios::binary) << "u2\r\n"; }
    // One whole session: the count of new messages.
    int32_t Check() {
        pop.OpenMailbox();
        pop.CountNewMessages();
        pop.CloseMailbox();
        return pop.NewMessageCount;
    }

    ScriptedPop3Server server;
    TmsRemotePOP pop;
};

enum class CapaAnswer { Pipelining, NoPipelining, Refused, Silent, Closes };

class Pop3CapaAnswerTest : public Pop3PipeliningTest,
                           public ::testing::WithParamInterface<CapaAnswer> {};

// Whatever the answer, the commands are today's plus one CAPA in the first session; only
// PIPELINING puts them into fewer sends.
TEST_P(Pop3CapaAnswerTest, TheCommandsAreTodaysPlusOneCapaAndPipeliningSavesSends) {
    SessionScript script;
    switch (GetParam()) {
    case CapaAnswer::Pipelining:
        script.replies["CAPA"] = Capabilities("TOP\r\nUIDL\r\nPIPELINING\r\n");
        break;
    case CapaAnswer::NoPipelining:
        script.replies["CAPA"] = Capabilities("TOP\r\nUIDL\r\nLOGIN-DELAY 900\r\n");
        break;
    case CapaAnswer::Refused:
        break; // the scripted server knows no CAPA
    case CapaAnswer::Silent:
        script.replies["CAPA"] = Response::NoReply();
        pop.SetTimeOut(5);
        break;
    case CapaAnswer::Closes:
        script.replies["CAPA"] = Response::Close();
        break;
    }
    Serve(script);
    KnowU2();
    const test::WinsockCalls wire;
    EXPECT_EQ(Check(), 1);
    EXPECT_EQ(Check(), 1);

    const bool reconnects = GetParam() == CapaAnswer::Silent || GetParam() == CapaAnswer::Closes;
    std::vector<std::string> first = {"CAPA"};
    if (!reconnects)
        first.insert(first.end(), kSession.begin(), kSession.end());
    EXPECT_EQ(server.SessionTranscript(0), first);
    for (size_t session = 1; session < server.ConnectionCount(); ++session)
        EXPECT_EQ(server.SessionTranscript(session), kSession) << session;
    EXPECT_EQ(server.ConnectionCount(), reconnects ? 3u : 2u);
    // Pipelined: the login, each message's three commands and QUIT, each in one send.
    EXPECT_EQ(wire.Sends(), GetParam() == CapaAnswer::Pipelining ? 1 + 4 + 4 : 1 + 10 + 10);
    ASSERT_NE(pop.ServerCapabilities(), nullptr);
    EXPECT_EQ(pop.ServerCapabilities()->Pipelining, GetParam() == CapaAnswer::Pipelining);
}

INSTANTIATE_TEST_SUITE_P(EachAnswer, Pop3CapaAnswerTest,
                         ::testing::Values(CapaAnswer::Pipelining, CapaAnswer::NoPipelining,
                                           CapaAnswer::Refused, CapaAnswer::Silent,
                                           CapaAnswer::Closes));

// Every reply of a pipelined send is read in order, refused or not: the walk fails with the
// refusal of its own command, and QUIT still gets QUIT's answer.
TEST_F(Pop3PipeliningTest, EachReplyIsMatchedToItsCommandWhenOneIsRefused) {
    SessionScript script;
    script.replies["CAPA"] = Capabilities("PIPELINING\r\n");
    script.replies["LIST 3"] = Response::Line("-ERR LIST 3 refused");
    SessionScript noUser = script;
    noUser.replies["USER"] = Response::Line("-ERR [AUTH] no such user");
    server.QueueScript(script);
    server.QueueScript(noUser);
    Serve(script);
    // No known ids: the next message's commands go in the same send.
    pop.OpenMailbox();
    EXPECT_EQ(ErrorOf<EServerError>([&] { pop.CountNewMessages(); }), "-ERR LIST 3 refused");
    pop.CloseMailbox();
    EXPECT_EQ(pop.LastReplyLine(), "+OK pwtest POP3 server signing off");
    EXPECT_EQ(
        server.SessionTranscript(0),
        (std::vector<std::string>{"CAPA", "USER alice", "PASS secret", "STAT", "LIST 3", "TOP 3 1",
                                  "UIDL 3", "LIST 2", "TOP 2 1", "UIDL 2", "QUIT"}));

    // A refused USER makes PASS and STAT fail too: the USER refusal is told, the rest read.
    EXPECT_EQ(ErrorOf<EServerError>([&] { pop.OpenMailbox(); }), "-ERR [AUTH] no such user");
    EXPECT_EQ(pop.Stage(), TmsCustomPOP::TStage::LoggingIn);
    pop.CloseMailbox();
    EXPECT_EQ(pop.LastReplyLine(), "+OK pwtest POP3 server signing off");
    EXPECT_EQ(server.SessionTranscript(1),
              (std::vector<std::string>{"USER alice", "PASS secret", "STAT", "QUIT"}));
}

class Pop3SegmentsTest : public Pop3PipeliningTest, public ::testing::WithParamInterface<size_t> {};

// The replies to one send come back in one segment, or one byte at a time: the same count.
TEST_P(Pop3SegmentsTest, RepliesOfOneSendInOneSegmentOrByteByByteGiveTheSameCount) {
    SessionScript script;
    script.packetSize = GetParam();
    script.packetGapMs = 0;
    auto held = std::make_shared<std::string>();
    script.handler = [held](const test::CommandContext& c) -> std::optional<Response> {
        if (c.verb == "CAPA")
            return Capabilities("PIPELINING\r\n");
        if (c.verb == "QUIT")
            return std::nullopt;
        // The replies of a send are held back until its last command, then go together.
        *held += c.Default().bytes;
        if (c.verb != "STAT" && c.verb != "UIDL")
            return Response::NoReply();
        return Response::Raw(std::exchange(*held, std::string()));
    };
    Serve(script);
    EXPECT_EQ(Check(), 3);
    EXPECT_EQ(pop.NewMessageSize, static_cast<int32_t>(3 * PlainMessage("u1").Size()));
}

INSTANTIATE_TEST_SUITE_P(OneAndByteByByte, Pop3SegmentsTest, ::testing::Values(0u, 1u));

class Pop3PipeliningDovecotTest : public test::DovecotTest {};

// dovecot says PIPELINING: the same count of new messages in fewer sends.
TEST_F(Pop3PipeliningDovecotTest, TheSameCountInFewerSends) {
    const test::DovecotUser& user = dovecot.User(5);
    dovecot.ClearMailbox(user.name);
    for (const char* id : {"one", "two", "three"})
        dovecot.Deliver(user.name, "Subject: " + std::string(id) + "\r\nMessage-ID: <" + id +
                                       "@pwtest>\r\n\r\nbody\r\n");
    int sends[2] = {};
    for (const bool ask : {false, true}) {
        TmsRemotePOP pop;
        dovecot.LogInAs(pop, user);
        pop.AskCapabilities = ask;
        const test::WinsockCalls wire;
        pop.OpenMailbox();
        pop.CountNewMessages();
        pop.CloseMailbox();
        EXPECT_EQ(pop.NewMessageCount, 3) << ask;
        sends[ask] = wire.Sends();
        if (ask) {
            ASSERT_NE(pop.ServerCapabilities(), nullptr);
            EXPECT_TRUE(pop.ServerCapabilities()->Pipelining);
        }
    }
    EXPECT_EQ(sends[false], 3 + 9 + 1);
    EXPECT_EQ(sends[true], 1 + 1 + 2 + 1); // CAPA, the login, two sends of the walk, QUIT
}

} // namespace
} // namespace pw
