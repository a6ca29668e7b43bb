// The socket against scripted loopback peers: line framing, multi-line replies, time-outs,
// cancelling, errors and the dial-up link.
#include "MailTesting.h"

#include "core/MemoryStream.h"
#include "win/MessagePump.h"
#include "win/Timer.h"

#include <vector>

#include "support/WinsockCalls.h"

namespace pw {
namespace {

using test::ErrorOf;
using test::Response;
using test::ScriptedPop3Server;
using test::SessionScript;
using test::Stopwatch;

class SocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        socket.SetWinsockLoaded(true);
        socket.SetTimeOut(30);
        socket.OnError = [this](TObject&, std::string& msg) {
            errors.push_back(msg);
            openAtError.push_back(socket.IsSocketOpen());
        };
        socket.OnClosed = [this](TObject&) { ++closedCount; };
    }

    // Connects to a server whose greeting is the given response.
    void ConnectTo(const Response& greeting, size_t packetSize = 0, int packetGapMs = 1,
                   std::map<std::string, Response> replies = {}) {
        SessionScript script;
        script.replies = std::move(replies);
        script.greeting = greeting;
        script.packetSize = packetSize;
        script.packetGapMs = packetGapMs;
        test::StartWith(server, script);
        socket.Server = test::Loopback(server.Port());
        socket.Open();
        socket.ConnectSocket();
    }

    ScriptedPop3Server server;
    test::TestSocket socket;
    std::vector<std::string> errors;
    std::vector<bool> openAtError;
    int closedCount = 0;
};

TEST_F(SocketTest, ReadsLineByLineWhateverThePackets) {
    for (size_t packetSize : {0, 1, 5}) {
        SCOPED_TRACE(packetSize);
        ScriptedPop3Server peer;
        SessionScript script;
        // Two lines in one packet (or split anywhere), the second ending CR CR LF.
        script.greeting = Response::Raw("220 first\r\n221 second\r\r\n");
        script.packetSize = packetSize;
        test::StartWith(peer, script);
        test::TestSocket s;
        s.SetWinsockLoaded(true);
        s.Server = test::Loopback(peer.Port());
        s.Open();
        s.ConnectSocket();
        std::string line;
        EXPECT_EQ(s.ReadReply(line), 220);
        EXPECT_EQ(line, "220 first");
        EXPECT_EQ(s.ReadReply(line), 221);
        EXPECT_EQ(line, "221 second");
        s.Close();
    }
}

TEST_F(SocketTest, OverLongLineIsCutAndTheNextReplyStaysInStep) {
    const std::string longLine(300, 'x');
    ConnectTo(Response::Raw(longLine + "\r\n250 next\r\n"), 7);
    std::string line;
    socket.ReadReply(line);
    EXPECT_EQ(line, longLine.substr(0, 255));
    EXPECT_EQ(socket.ReadReply(line), 250);
    EXPECT_EQ(line, "250 next");
}

TEST_F(SocketTest, RepliesThatArrivedTogetherCostNoFurtherReceive) {
    // Three lines and a multi-line reply in one packet: the first read takes the packet, the
    // rest come out of the socket's buffer, and nothing is ever peeked at.
    ConnectTo(Response::Raw("221 one\r\n222 two\r\n223 three\r\nbody\r\n.\r\n"));
    const test::WinsockCalls counter;
    std::string line;
    ASSERT_EQ(socket.ReadReply(line), 221);
    EXPECT_EQ(line, "221 one");
    const int afterFirst = counter.Receives();
    EXPECT_GE(afterFirst, 1);
    ASSERT_EQ(socket.ReadReply(line), 222);
    EXPECT_EQ(line, "222 two");
    ASSERT_EQ(socket.ReadReply(line), 223);
    EXPECT_EQ(line, "223 three");
    TMemoryStream stream;
    socket.ReadMultiLine(stream, 0);
    EXPECT_EQ(stream.Data(), "body\r\n.\r\n");
    EXPECT_EQ(counter.Receives(), afterFirst);
    EXPECT_EQ(counter.Peeks(), 0);
}

TEST_F(SocketTest, SendLineAppendsCrLf) {
    ConnectTo(Response::Line("+OK hello"));
    std::string line;
    socket.ReadReply(line);
    socket.SendLine("NOOP");
    socket.ReadReply(line);
    EXPECT_EQ(server.RawReceived(0), "NOOP\r\n");
}

TEST_F(SocketTest, MultiLineEndsAtTheTerminatorAcrossOneByteChunks) {
    const std::string body = "a\r\n..b\r\n.\r\n";
    ConnectTo(Response::Raw(body), 1, 30);
    std::vector<std::pair<int32_t, int32_t>> progress;
    socket.OnProgress = [&](TObject&, int32_t perc, int32_t transferred) {
        progress.emplace_back(perc, transferred);
    };
    TMemoryStream stream;
    socket.ReadMultiLine(stream, 8);
    EXPECT_EQ(stream.Data(), body); // as received: terminator kept, dots not unstuffed

    // Percentages of the position before each chunk, halves rounded to even.
    const int32_t expected[] = {0, 12, 25, 38, 50, 62, 75, 88, 100, 112, 125};
    std::vector<bool> seen(std::size(expected));
    for (const auto& [perc, transferred] : progress) {
        ASSERT_LT(static_cast<size_t>(transferred), std::size(expected));
        EXPECT_EQ(perc, expected[transferred]) << "at " << transferred;
        seen[transferred] = true;
    }
    EXPECT_TRUE(seen[10]);
    EXPECT_GE(seen[1] + seen[3] + seen[5] + seen[7] + seen[9], 2) << "too few halves to round";
}

TEST_F(SocketTest, PeerCloseEndsAReadPromptly) {
    // Half a line, then the peer closes: no line, no exception, no waiting for the time-out.
    ConnectTo(Response::Raw("220 no line end").ThenClose());
    Stopwatch clock;
    std::string line = "old";
    EXPECT_EQ(socket.ReadReply(line), -1);
    EXPECT_EQ(line, "");
    EXPECT_LT(clock.Elapsed(), 5000u);
    EXPECT_TRUE(errors.empty());
    EXPECT_FALSE(socket.IsSocketOpen()); // nothing more can come on it

    // A multi-line reply that can no longer end fails as a reset connection, closed.
    ScriptedPop3Server other;
    SessionScript script;
    script.greeting = Response::Raw("+OK list follows\r\npartial").ThenClose();
    test::StartWith(other, script);
    socket.Server = test::Loopback(other.Port());
    socket.Open();
    socket.ConnectSocket();
    socket.ReadReply(line);
    Stopwatch multiClock;
    TMemoryStream stream;
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.ReadMultiLine(stream, 0); }),
              "[10054] Connection reset by peer");
    EXPECT_LT(multiClock.Elapsed(), 5000u);
    EXPECT_FALSE(socket.IsSocketOpen());
    EXPECT_FALSE(socket.TimeCounterArmed()); // nothing ticks once the connection is gone
}

TEST_F(SocketTest, ResetByPeerEndsTheReadAndClosesBeforeRaising) {
    // The peer answers a command with an abortive close. Wine reports it as a reset or as a
    // plain close; either way the read ends at once instead of waiting for the time-out.
    ConnectTo(Response::Line("+OK hello"), 0, 1, {{"NOOP", Response::Reset()}});
    std::string line;
    socket.ReadReply(line);
    socket.SendLine("NOOP");
    Stopwatch clock;
    try {
        EXPECT_EQ(socket.ReadReply(line), -1);
        EXPECT_EQ(line, "");
    } catch (const ESocketError& error) {
        EXPECT_STREQ(error.what(), "[10054] Connection reset by peer");
    }
    EXPECT_LT(clock.Elapsed(), 5000u);

    // Error 10054 closes the connection after OnError and before the raise.
    socket.Close();
    socket.ResetState();
    socket.Open();
    socket.ConnectSocket();
    errors.clear();
    closedCount = 0;
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.RaiseSocketError(WSAECONNRESET); }),
              "[10054] Connection reset by peer");
    EXPECT_EQ(openAtError.back(), true);
    EXPECT_EQ(closedCount, 1);
    EXPECT_FALSE(socket.IsSocketOpen());
}

TEST_F(SocketTest, TimeOutFiresOnErrorThenClosesAndKeepsItsText) {
    socket.SetTimeOut(1);
    socket.OnError = [this](TObject&, std::string& msg) {
        errors.push_back(msg);
        openAtError.push_back(socket.IsSocketOpen());
        msg = "rewritten";
    };
    ConnectTo(Response::Hang());
    Stopwatch clock;
    std::string line;
    EXPECT_EQ(ErrorOf<ETimedOutError>([&] { socket.ReadReply(line); }), "Operation timed out");
    EXPECT_GE(clock.Elapsed(), 500u);
    EXPECT_LT(clock.Elapsed(), 5000u);
    EXPECT_EQ(errors, std::vector<std::string>{"Operation timed out"});
    EXPECT_EQ(openAtError, std::vector<bool>{true});
    EXPECT_FALSE(socket.IsSocketOpen());
    EXPECT_FALSE(socket.TimeCounterArmed());

    // The rewrite does reach a socket error.
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.SendLine("NOOP"); }), "rewritten");
    EXPECT_EQ(errors.back(), "You have to connect to the server first");
}

TEST_F(SocketTest, CancelFromATimerInsideTheWait) {
    ConnectTo(Response::Hang());
    socket.OnError = [this](TObject&, std::string& msg) {
        errors.push_back(msg);
        msg = "rewritten";
    };
    int cancels = 0;
    socket.OnCancel = [&](TObject&) { ++cancels; };
    TTimer timer(nullptr, 200, true);
    timer.OnTimer = [&](TObject&) {
        timer.SetEnabled(false);
        socket.CancelOperation();
    };
    Stopwatch clock;
    std::string line;
    EXPECT_EQ(ErrorOf<ECanceledError>([&] { socket.ReadReply(line); }),
              "Operation has been canceled");
    EXPECT_LT(clock.Elapsed(), 5000u);
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(errors, std::vector<std::string>{"Operation has been canceled"});
    EXPECT_FALSE(socket.IsSocketOpen());
    EXPECT_FALSE(socket.TimeCounterArmed());
    // Canceled holds until ResetState.
    EXPECT_THROW(socket.ConnectSocket(), ECanceledError);
}

TEST_F(SocketTest, RefusedConnectionFailsAtOnce) {
    socket.Server = test::Loopback(ScriptedPop3Server::UnusedPort());
    socket.Open();
    Stopwatch clock;
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.ConnectSocket(); }), "[10061] Connection refused");
    EXPECT_LT(clock.Elapsed(), 5000u);
    EXPECT_EQ(errors, std::vector<std::string>{"[10061] Connection refused"});
    EXPECT_FALSE(socket.IsSocketOpen()); // closed before the raise: no QUIT can follow on it
    EXPECT_FALSE(socket.TimeCounterArmed());
}

TEST_F(SocketTest, SocketErrorTextsAndRewrites) {
    EXPECT_NO_THROW(socket.RaiseSocketError(0));
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.RaiseSocketError(10101); }), "Error #10101");
    socket.OnError = [](TObject&, std::string& msg) { msg = "[" + msg + "]"; };
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.RaiseSocketError(10061); }),
              "[[10061] Connection refused]");
    std::string line;
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.ReadReply(line); }),
              "[You have to connect to the server first]");
}

TEST_F(SocketTest, OpenResolvesNamesServicesAndRejectsBadInput) {
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.Open(); }), "Server property is required");
    socket.Server = std::string(128, 'h');
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.Open(); }), "Error resolving remote host");
    socket.Server = "255.255.255.255:110";
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.Open(); }), "Error resolving remote host");

    SessionScript script;
    script.greeting = Response::Line("220 hello");
    test::StartWith(server, script);
    std::string line;

    // A host name goes through the asynchronous lookup (the flags of the last one are reset
    // first, as the POP3 client does).
    socket.ResetState();
    socket.Server = "localhost:" + std::to_string(server.Port());
    socket.Open();
    socket.ConnectSocket();
    EXPECT_EQ(socket.ReadReply(line), 220);
    EXPECT_TRUE(socket.TimeCounterArmed()); // for the connection's next wait
    socket.Close();
    EXPECT_FALSE(socket.TimeCounterArmed());
    // A lookup that fails leaves no timer behind either.
    socket.ResetState();
    socket.Server = "pwtest-no-such-host.invalid:110";
    EXPECT_THROW(socket.Open(), ESocketError);
    EXPECT_FALSE(socket.TimeCounterArmed());

    // No port: the service is looked up; an unknown one leaves the default port.
    socket.ResetState();
    socket.Server = "127.0.0.1";
    socket.ServiceName = "pwtest-no-such-service";
    socket.DefaultPort = server.Port();
    socket.Open();
    socket.ConnectSocket();
    EXPECT_EQ(socket.ReadReply(line), 220);
    socket.Close();

    socket.ServiceName.clear();
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.Open(); }), "Service name is required");
    socket.ServiceName = std::string(64, 's');
    EXPECT_EQ(ErrorOf<ESocketError>([&] { socket.Open(); }), "[10022] Invalid argument");
}

// A dial-up component as the socket sees it.
class FakeDial : public TComponent, public IDialLink {
public:
    explicit FakeDial(std::vector<std::string>& log) : log_(log) {}
    void Connect() override { log_.push_back("dial"); }
    void Cancel() override { log_.push_back("hang up"); }

private:
    std::vector<std::string>& log_;
};

TEST_F(SocketTest, DialLinkConnectsFirstAndHangsUpOnEveryClose) {
    std::vector<std::string> log;
    auto dial = std::make_unique<FakeDial>(log);
    socket.SetRAS(dial.get());
    socket.OnOpen = [&](TObject&) { log.push_back("open"); };
    EXPECT_THROW(socket.Open(), ESocketError); // no server
    socket.Close();
    EXPECT_EQ(log, (std::vector<std::string>{"dial", "open", "hang up"}));
    dial.reset();
    EXPECT_EQ(socket.RAS(), nullptr);
    socket.Close();
}

} // namespace
} // namespace pw
