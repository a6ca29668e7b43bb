// A scripted POP3 server on 127.0.0.1 for the Windows tests: plays a small real mailbox by
// default, and lets a test replace any reply or inject faults (split packets, delays, early
// close, silence, odd line ends). Runs on its own thread; sessions are served one after another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pw::test {

// One message of a mailbox. Line ends may be LF or CR LF; the server sends CR LF.
struct MailMessage {
    std::string headers; // header lines, without the empty line that ends them
    std::string body;
    std::string uid; // UIDL id; empty: the server has none and answers UIDL n negatively

    // The message as RETR sends it (before dot-stuffing), and its size in octets.
    std::string Text() const;
    std::size_t Size() const { return Text().size(); }
};

struct Mailbox {
    std::string user;
    std::string password;
    std::vector<MailMessage> messages;
};

// Text with every line end made CR LF, lines starting with "." doubled, and the terminating
// "." line appended: the part of a multi-line reply after its status line.
std::string MultiLineBody(std::string_view text);

// What the server does in answer to the greeting or to one command line.
struct Response {
    enum class Kind {
        Send,    // send `bytes` (possibly none)
        NoReply, // send nothing for this command; keep serving later ones
        Hang,    // send nothing, now or later: record commands until the peer closes
        Close,   // close the connection without a reply
        Reset,   // abort the connection (the peer sees a reset)
    };
    Kind kind = Kind::Send;
    std::string bytes;
    int delayMs = -1; // before sending; -1 takes the session's ReplyDelayMs
    bool closeAfter = false;
    bool resetAfter = false;

    // `text` plus CR LF.
    static Response Line(std::string_view text);
    // Exactly these bytes, no line end added.
    static Response Raw(std::string bytes);
    // A status line and a dot-stuffed body (see MultiLineBody).
    static Response MultiLine(std::string_view status, std::string_view text);
    static Response NoReply();
    static Response Hang();
    static Response Close();
    static Response Reset();

    // More bytes in the same packet, e.g. the start of the next reply.
    Response Then(std::string_view more) const;
    Response After(int ms) const;
    Response ThenClose() const;
    // Aborts the connection after the bytes (the peer sees a reset, e.g. in the middle of TOP).
    Response ThenReset() const;
};

// One received command as a handler sees it.
struct CommandContext {
    std::size_t session = 0; // 0-based index of the connection
    std::size_t index = 0;   // 0-based index of the command within the session
    std::string line;        // as received, without the line end
    std::string verb;        // first word, upper-cased
    std::string argument;    // the rest after the first blank
    // The default POP3 behaviour for this command. Call it at most once: it changes the
    // session (USER, PASS, DELE, QUIT do).
    std::function<Response()> Default;
};

// A handler answers a command, or returns nothing to leave it to the overrides and the
// default behaviour. It runs on the server's thread.
using CommandHandler = std::function<std::optional<Response>(const CommandContext&)>;

// How one session goes.
struct SessionScript {
    Response greeting = Response::Line("+OK pwtest POP3 server ready");
    // Replies by command: a key matches the whole line or its first word, case-insensitively;
    // "UIDL 2" wins over "UIDL".
    std::map<std::string, Response> replies;
    CommandHandler handler;     // consulted before `replies`
    int replyDelayMs = 0;       // before every reply, the greeting included
    std::size_t packetSize = 0; // 0: each reply in one send; n: n bytes per send (1: byte by byte)
    int packetGapMs = 1;        // pause between the packets of a split reply
    std::string lineEnd = "\r\n"; // ends the status lines of the default behaviour
};

class ScriptedPop3Server {
public:
    ScriptedPop3Server();
    ~ScriptedPop3Server(); // stops
    ScriptedPop3Server(const ScriptedPop3Server&) = delete;
    ScriptedPop3Server& operator=(const ScriptedPop3Server&) = delete;

    // Binds 127.0.0.1 (port 0: an ephemeral one) and starts serving. Throws std::runtime_error
    // when the port cannot be bound.
    void Start(uint16_t port = 0);
    // Closes the connection being served and the listening socket and joins the thread.
    // Bounded: every wait of the thread polls for it. Harmless when repeated.
    void Stop();
    uint16_t Port() const { return port_; }

    // The mailboxes are shared by all sessions, as on a real server: DELE takes effect at QUIT.
    void AddMailbox(Mailbox mailbox);
    void SetMailboxes(std::vector<Mailbox> mailboxes);
    std::vector<Mailbox> Mailboxes() const;

    // The script of sessions that have no queued script of their own.
    void SetScript(SessionScript script);
    // Scripts for the next sessions, used in order, one per connection.
    void QueueScript(SessionScript script);

    // Closes the listening socket (after the current session): further connections are refused.
    // Waits until it is closed.
    void RefuseConnections();

    std::size_t ConnectionCount() const; // connections accepted so far
    std::size_t FinishedSessionCount() const;
    // Waits until `count` sessions have ended; false when `timeoutMs` passes first.
    bool WaitForFinishedSessions(std::size_t count, int timeoutMs) const;

    // Command lines received, without line ends: of all sessions in order, or of one.
    std::vector<std::string> Transcript() const;
    std::vector<std::string> SessionTranscript(std::size_t session) const;
    // Every byte received in one session, line ends included.
    std::string RawReceived(std::size_t session) const;

    // A loopback port that nothing listens on (it was bound and released).
    static uint16_t UnusedPort();

private:
    struct State;
    class Session;
    void Run();
    bool ServeOneConnection();

    std::shared_ptr<State> state_;
    uint16_t port_ = 0;
};

} // namespace pw::test
