// Checks the two POP3 peers that the mail tests stand on, through a plain blocking Winsock
// client: the scripted server (default dialogue, every fault knob, transcripts, shutdown) and
// the runner's dovecot with mail delivered from the test.
#include "pop3script/ScriptedPop3Server.h"
#include "support/DovecotEnv.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

using namespace pw::test;

namespace {

// A blocking loopback client whose reads give up after a bound.
class RawClient {
public:
    RawClient() {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~RawClient() {
        if (socket_ != INVALID_SOCKET) {
            closesocket(socket_);
        }
        WSACleanup();
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // 0 on success, else the Winsock error of connect.
    int Connect(uint16_t port, DWORD readTimeoutMs = 5000) {
        socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&readTimeoutMs),
                   sizeof readTimeoutMs);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        if (connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            return WSAGetLastError();
        }
        return 0;
    }

    void Send(const std::string& line) {
        std::string bytes = line + "\r\n";
        ASSERT_EQ(send(socket_, bytes.data(), static_cast<int>(bytes.size()), 0),
                  static_cast<int>(bytes.size()));
    }

    // One recv: the bytes, empty at the peer's close; `error` gets the Winsock error, if any.
    std::string Chunk(int* error = nullptr) {
        char buffer[8192];
        int n = recv(socket_, buffer, sizeof buffer, 0);
        if (error) {
            *error = n == SOCKET_ERROR ? WSAGetLastError() : 0;
        }
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    }

    // Reads until `text` ends with `terminator`, or the peer closes, or a read times out.
    std::string ReadUntil(const std::string& terminator) {
        std::string text;
        while (text.size() < terminator.size() ||
               text.compare(text.size() - terminator.size(), terminator.size(), terminator) != 0) {
            std::string chunk = Chunk();
            if (chunk.empty()) {
                break;
            }
            text += chunk;
            chunks_.push_back(chunk);
        }
        return text;
    }
    std::string Line() { return ReadUntil("\n"); }
    std::string MultiLine() { return ReadUntil("\r\n.\r\n"); }

    // A request and its one-line reply.
    std::string Ask(const std::string& line) {
        Send(line);
        return Line();
    }

    const std::vector<std::string>& Chunks() const { return chunks_; }

private:
    SOCKET socket_ = INVALID_SOCKET;
    std::vector<std::string> chunks_;
};

MailMessage First() {
    return {"From: a@example.org\r\nMessage-ID: <one@example.org>", "Hello\r\n", "uid-1"};
}
MailMessage Second() {
    // LF line ends and a line starting with a dot.
    return {"Subject: two\nX-UIDL: xu-2", ".hidden\nsecond line\n", "uid-2"};
}

class ScriptedServer : public ::testing::Test {
protected:
    void SetUp() override {
        server.AddMailbox({"alice", "wonder", {First(), Second()}});
        server.AddMailbox({"bob", "builder", {}});
    }
    void Start(SessionScript script = {}) {
        server.SetScript(std::move(script));
        server.Start();
    }
    void Login(RawClient& client) {
        ASSERT_EQ(client.Connect(server.Port()), 0);
        ASSERT_EQ(client.Line(), "+OK pwtest POP3 server ready\r\n");
        ASSERT_EQ(client.Ask("USER alice"), "+OK\r\n");
        ASSERT_EQ(client.Ask("PASS wonder"), "+OK logged in\r\n");
    }
    ScriptedPop3Server server;
};

} // namespace

TEST(MultiLineBody, StuffsDotsNormalisesLineEndsAndTerminates) {
    EXPECT_EQ(MultiLineBody("a\n.b\r\n..c"), "a\r\n..b\r\n...c\r\n.\r\n");
    EXPECT_EQ(MultiLineBody(""), ".\r\n");
    EXPECT_EQ(MultiLineBody(".\r\n"), "..\r\n.\r\n");
    EXPECT_EQ(Second().Text(), "Subject: two\r\nX-UIDL: xu-2\r\n\r\n.hidden\r\nsecond line\r\n");
}

TEST_F(ScriptedServer, PlaysTheMailboxAndRecordsTheTranscript) {
    Start();
    RawClient client;
    Login(client);
    std::size_t size1 = First().Size(), size2 = Second().Size();
    EXPECT_EQ(client.Ask("STAT"), "+OK 2 " + std::to_string(size1 + size2) + "\r\n");
    EXPECT_EQ(client.Ask("LIST 2"), "+OK 2 " + std::to_string(size2) + "\r\n");
    client.Send("TOP 2 1");
    EXPECT_EQ(client.MultiLine(), "+OK\r\nSubject: two\r\nX-UIDL: xu-2\r\n\r\n..hidden\r\n.\r\n");
    EXPECT_EQ(client.Ask("UIDL 2"), "+OK 2 uid-2\r\n");
    EXPECT_EQ(client.Ask("LIST 3"), "-ERR no such message\r\n");
    client.Send("UIDL");
    EXPECT_EQ(client.MultiLine(), "+OK\r\n1 uid-1\r\n2 uid-2\r\n.\r\n");
    client.Send("RETR 1");
    EXPECT_EQ(client.MultiLine(),
              "+OK " + std::to_string(size1) + " octets\r\n" + First().Text() + ".\r\n");
    EXPECT_EQ(client.Ask("QUIT"), "+OK pwtest POP3 server signing off\r\n");
    EXPECT_EQ(client.Chunk(), ""); // the server closed

    ASSERT_TRUE(server.WaitForFinishedSessions(1, 5000));
    std::vector<std::string> expected{"USER alice", "PASS wonder", "STAT", "LIST 2", "TOP 2 1",
                                      "UIDL 2",     "LIST 3",      "UIDL", "RETR 1", "QUIT"};
    EXPECT_EQ(server.Transcript(), expected);
    EXPECT_EQ(server.SessionTranscript(0), expected);
    EXPECT_EQ(server.RawReceived(0).substr(0, 25), "USER alice\r\nPASS wonder\r\n");
}

TEST_F(ScriptedServer, ServesSessionsInTurnWithSharedMailboxesAndQueuedScripts) {
    SessionScript first;
    first.greeting = Response::Line("+OK first");
    server.QueueScript(first);
    Start();
    {
        RawClient client;
        ASSERT_EQ(client.Connect(server.Port()), 0);
        EXPECT_EQ(client.Line(), "+OK first\r\n");
        EXPECT_EQ(client.Ask("STAT"), "-ERR not logged in\r\n");
        EXPECT_EQ(client.Ask("PASS wonder"), "-ERR USER first\r\n");
        EXPECT_EQ(client.Ask("USER alice"), "+OK\r\n");
        EXPECT_EQ(client.Ask("PASS wrong"), "-ERR [AUTH] Authentication failed.\r\n");
    }
    {
        RawClient client;
        Login(client); // the queued script is used up: the default greeting again
        EXPECT_EQ(client.Ask("DELE 1"), "+OK message 1 deleted\r\n");
        EXPECT_EQ(client.Ask("DELE 1"), "-ERR no such message\r\n");
        EXPECT_EQ(client.Ask("STAT").substr(0, 6), "+OK 1 ");
        EXPECT_EQ(client.Ask("QUIT").substr(0, 3), "+OK");
    }
    {
        RawClient client;
        Login(client);
        EXPECT_EQ(client.Ask("UIDL 1"), "+OK 1 uid-2\r\n"); // the deletion took effect at QUIT
    }
    ASSERT_TRUE(server.WaitForFinishedSessions(3, 5000));
    EXPECT_EQ(server.ConnectionCount(), 3u);
    EXPECT_EQ(server.SessionTranscript(0).back(), "PASS wrong");
    EXPECT_EQ(server.SessionTranscript(2),
              (std::vector<std::string>{"USER alice", "PASS wonder", "UIDL 1"}));
    EXPECT_EQ(server.Mailboxes()[0].messages.size(), 1u);
}

TEST_F(ScriptedServer, SplitsRepliesIntoOneBytePackets) {
    SessionScript script;
    script.packetSize = 1;
    script.packetGapMs = 20;
    Start(script);
    RawClient client;
    ASSERT_EQ(client.Connect(server.Port()), 0);
    EXPECT_EQ(client.Line(), "+OK pwtest POP3 server ready\r\n");
    // Without the split the whole line would come in one recv.
    EXPECT_GT(client.Chunks().size(), 10u);
}

TEST_F(ScriptedServer, OverridesRepliesByCommandAndByWholeLine) {
    SessionScript script;
    script.replies["uidl"] = Response::Line("-ERR not supported");
    script.replies["UIDL 2"] = Response::Line("+OK 2 special");
    script.replies["STAT"] = Response::Line("+OK");
    script.replies["NOOP"] = Response::Line("+OK " + std::string(400, 'x'));
    script.replies["LIST 1"] = Response::Raw("+OK 1 99\r\r\n");
    script.replies["LIST 2"] = Response::Line("+OK 2 5").Then("+OK extra\r\n");
    Start(script);
    RawClient client;
    Login(client);
    EXPECT_EQ(client.Ask("UIDL 1"), "-ERR not supported\r\n");
    EXPECT_EQ(client.Ask("UIDL 2"), "+OK 2 special\r\n");
    EXPECT_EQ(client.Ask("STAT"), "+OK\r\n");
    EXPECT_EQ(client.Ask("NOOP").size(), 406u);
    EXPECT_EQ(client.Ask("LIST 1"), "+OK 1 99\r\r\n");
    client.Send("LIST 2");
    EXPECT_EQ(client.ReadUntil("extra\r\n"), "+OK 2 5\r\n+OK extra\r\n");
}

TEST_F(ScriptedServer, HandlerSeesEachCommandAndCanWrapTheDefault) {
    SessionScript script;
    script.lineEnd = "\r\r\n";
    std::vector<std::string> seen;
    script.handler = [&seen](const CommandContext& c) -> std::optional<Response> {
        seen.push_back(std::to_string(c.session) + ":" + std::to_string(c.index) + ":" + c.verb +
                       ":" + c.argument);
        if (c.verb == "STAT") {
            return c.Default().Then("trailing");
        }
        return std::nullopt;
    };
    Start(script);
    RawClient client;
    ASSERT_EQ(client.Connect(server.Port()), 0);
    client.Line();
    EXPECT_EQ(client.Ask("user alice"), "+OK\r\r\n");
    EXPECT_EQ(client.Ask("PASS wonder"), "+OK logged in\r\r\n");
    client.Send("STAT");
    EXPECT_EQ(client.ReadUntil("trailing").substr(0, 6), "+OK 2 ");
    EXPECT_EQ(seen, (std::vector<std::string>{"0:0:USER:alice", "0:1:PASS:wonder", "0:2:STAT:"}));
}

TEST_F(ScriptedServer, DelaysReplies) {
    SessionScript script;
    script.replyDelayMs = 400;
    script.replies["NOOP"] = Response::Line("+OK").After(0);
    Start(script);
    RawClient client;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(client.Connect(server.Port()), 0);
    client.Line();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(350));
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(client.Ask("NOOP"), "+OK\r\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(350));
}

TEST_F(ScriptedServer, ClosesEarlyOrResets) {
    SessionScript beforeGreeting;
    beforeGreeting.greeting = Response::Close();
    SessionScript afterPass;
    afterPass.replies["PASS"] = Response::Close();
    SessionScript reset;
    reset.replies["USER"] = Response::Reset();
    server.QueueScript(beforeGreeting);
    server.QueueScript(afterPass);
    server.QueueScript(reset);
    server.Start();

    int error = -1;
    {
        RawClient client;
        ASSERT_EQ(client.Connect(server.Port()), 0);
        EXPECT_EQ(client.Chunk(&error), "");
        EXPECT_EQ(error, 0);
    }
    {
        RawClient client;
        ASSERT_EQ(client.Connect(server.Port()), 0);
        client.Line();
        client.Ask("USER alice");
        client.Send("PASS wonder");
        EXPECT_EQ(client.Chunk(&error), "");
        EXPECT_EQ(error, 0);
    }
    {
        RawClient client;
        ASSERT_EQ(client.Connect(server.Port()), 0);
        client.Line();
        client.Send("USER alice");
        EXPECT_EQ(client.Chunk(&error), "");
        EXPECT_EQ(error, WSAECONNRESET);
    }
    ASSERT_TRUE(server.WaitForFinishedSessions(3, 5000));
    EXPECT_EQ(server.Transcript(),
              (std::vector<std::string>{"USER alice", "PASS wonder", "USER alice"}));
}

TEST_F(ScriptedServer, HangsSilentYetRecordsAndStillStopsPromptly) {
    SessionScript script;
    script.greeting = Response::Hang();
    Start(script);
    RawClient client;
    ASSERT_EQ(client.Connect(server.Port(), 500), 0);
    client.Send("USER alice");
    int error = 0;
    EXPECT_EQ(client.Chunk(&error), "");
    EXPECT_EQ(error, WSAETIMEDOUT);
    EXPECT_EQ(server.Transcript(), std::vector<std::string>{"USER alice"});

    auto start = std::chrono::steady_clock::now();
    server.Stop(); // with the connection still held open by the client
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(client.Chunk(&error), ""); // and the connection is gone
    EXPECT_EQ(error, 0);
}

TEST_F(ScriptedServer, RefusesConnectionsOnRequestAndOffersAFreePort) {
    Start();
    {
        RawClient client;
        ASSERT_EQ(client.Connect(server.Port()), 0);
        client.Line();
    }
    server.RefuseConnections();
    RawClient refused;
    EXPECT_EQ(refused.Connect(server.Port()), WSAECONNREFUSED);
    RawClient nobody;
    EXPECT_EQ(nobody.Connect(ScriptedPop3Server::UnusedPort()), WSAECONNREFUSED);
    EXPECT_TRUE(server.WaitForFinishedSessions(1, 5000));
    EXPECT_EQ(server.ConnectionCount(), 1u);
}

class RealServer : public DovecotTest {};

TEST_F(RealServer, ServesMailDeliveredByTheTest) {
    const DovecotUser& user = dovecot.User(0);
    dovecot.ClearMailbox(user.name);
    dovecot.Deliver(user.name, "Message-ID: <one@example.org>\n\nfirst\n");
    dovecot.Deliver(user.name, "Message-ID: <two@example.org>\r\n\r\n.dot\r\nmore\r\n");

    RawClient client;
    ASSERT_EQ(client.Connect(dovecot.Port()), 0);
    EXPECT_EQ(client.Line().substr(0, 3), "+OK");
    EXPECT_EQ(client.Ask("USER " + user.name).substr(0, 3), "+OK");
    EXPECT_EQ(client.Ask("PASS " + user.password).substr(0, 3), "+OK");
    EXPECT_EQ(client.Ask("STAT").substr(0, 6), "+OK 2 ");
    client.Send("TOP 2 1");
    EXPECT_EQ(client.MultiLine(), "+OK\r\nMessage-ID: <two@example.org>\r\n\r\n..dot\r\n.\r\n");
    std::string uid1 = client.Ask("UIDL 1"), uid2 = client.Ask("UIDL 2");
    EXPECT_EQ(uid1.substr(0, 6), "+OK 1 ");
    EXPECT_EQ(uid2.substr(0, 6), "+OK 2 ");
    EXPECT_NE(uid1.substr(6), uid2.substr(6));
    EXPECT_EQ(client.Ask("QUIT").substr(0, 3), "+OK");
    dovecot.ClearMailbox(user.name);
}
