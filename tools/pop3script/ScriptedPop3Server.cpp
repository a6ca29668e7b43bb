// The scripted POP3 server: a listener thread that serves one connection at a time with
// blocking Winsock calls, each guarded by a short select so that Stop is never kept waiting.
#include "pop3script/ScriptedPop3Server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace pw::test {

namespace {

constexpr int kPollMs = 20;
constexpr std::size_t kMaxLine = 64 * 1024; // a longer "line" is taken as it stands

std::string Upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

// Splits at LF, dropping one CR before each LF; a last piece without LF is a line too.
std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t lf = text.find('\n', start);
        std::size_t end = lf == std::string_view::npos ? text.size() : lf;
        std::size_t cut = end;
        if (lf != std::string_view::npos && cut > start && text[cut - 1] == '\r') {
            --cut;
        }
        lines.emplace_back(text.substr(start, cut - start));
        start = lf == std::string_view::npos ? text.size() : lf + 1;
    }
    return lines;
}

std::string JoinCrlf(const std::vector<std::string>& lines) {
    std::string result;
    for (const std::string& line : lines) {
        result += line;
        result += "\r\n";
    }
    return result;
}

// Strict decimal without sign or blanks.
std::optional<std::size_t> ParseNumber(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value;
}

void CloseSocket(SOCKET& s) {
    if (s != INVALID_SOCKET) {
        closesocket(s);
        s = INVALID_SOCKET;
    }
}

// Keeps Winsock started for as long as the owner lives.
struct WinsockUse {
    WinsockUse() {
        WSADATA data{};
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            throw std::runtime_error("WSAStartup failed");
        }
    }
    ~WinsockUse() { WSACleanup(); }
    WinsockUse(const WinsockUse&) = delete;
    WinsockUse& operator=(const WinsockUse&) = delete;
};

} // namespace

std::string MailMessage::Text() const {
    std::string headerText = JoinCrlf(SplitLines(headers));
    std::string bodyText = JoinCrlf(SplitLines(body));
    if (!body.empty() && body.back() != '\n') {
        bodyText.resize(bodyText.size() - 2); // keep a body without final line end as it is
    }
    return headerText + "\r\n" + bodyText;
}

std::string MultiLineBody(std::string_view text) {
    std::string result;
    for (const std::string& line : SplitLines(text)) {
        if (!line.empty() && line[0] == '.') {
            result += '.';
        }
        result += line;
        result += "\r\n";
    }
    return result + ".\r\n";
}

Response Response::Line(std::string_view text) {
    return Raw(std::string(text) + "\r\n");
}

Response Response::Raw(std::string bytes) {
    Response r;
    r.bytes = std::move(bytes);
    return r;
}

Response Response::MultiLine(std::string_view status, std::string_view text) {
    return Raw(std::string(status) + "\r\n" + MultiLineBody(text));
}

namespace {
Response OfKind(Response::Kind kind) {
    Response r;
    r.kind = kind;
    return r;
}
} // namespace

Response Response::NoReply() {
    return OfKind(Kind::NoReply);
}
Response Response::Hang() {
    return OfKind(Kind::Hang);
}
Response Response::Close() {
    return OfKind(Kind::Close);
}
Response Response::Reset() {
    return OfKind(Kind::Reset);
}

Response Response::Then(std::string_view more) const {
    Response r = *this;
    r.bytes += more;
    return r;
}

Response Response::After(int ms) const {
    Response r = *this;
    r.delayMs = ms;
    return r;
}

Response Response::ThenClose() const {
    Response r = *this;
    r.closeAfter = true;
    return r;
}

Response Response::ThenReset() const {
    Response r = *this;
    r.resetAfter = true;
    return r;
}

struct ScriptedPop3Server::State {
    WinsockUse winsock;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;

    std::vector<Mailbox> mailboxes;
    SessionScript script;
    std::deque<SessionScript> queued;

    struct Record {
        std::vector<std::string> commands;
        std::string raw;
        bool finished = false;
    };
    std::vector<Record> sessions;

    std::atomic<bool> stopping{false};
    std::atomic<bool> refuseRequested{false};
    bool listenerClosed = false;
    SOCKET listener = INVALID_SOCKET;
    std::thread thread;

    // Called from every wait of the thread: honours RefuseConnections at once.
    void ServiceListener() {
        if (refuseRequested && listener != INVALID_SOCKET) {
            CloseSocket(listener);
            std::lock_guard<std::mutex> lock(mutex);
            listenerClosed = true;
            changed.notify_all();
        }
    }

    // Sleeps in short slices; false when the server is stopping.
    bool Pause(int ms) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!stopping) {
            ServiceListener();
            auto now = std::chrono::steady_clock::now();
            if (now >= end) {
                return true;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
            Sleep(static_cast<DWORD>(std::min<long long>(left, kPollMs)));
        }
        return false;
    }

    // Waits until `s` is readable (or writable); false when stopping.
    bool WaitReady(SOCKET s, bool forWrite) {
        while (!stopping) {
            ServiceListener();
            fd_set set;
            FD_ZERO(&set);
            FD_SET(s, &set);
            timeval tv{0, kPollMs * 1000};
            int n = forWrite ? select(0, nullptr, &set, nullptr, &tv)
                             : select(0, &set, nullptr, nullptr, &tv);
            if (n != 0) {
                return true; // ready, or an error that the following call reports
            }
        }
        return false;
    }
};

// One connection: the script, the POP3 state and the transcript record.
class ScriptedPop3Server::Session {
public:
    Session(State& state, SOCKET socket, std::size_t index, SessionScript script)
        : state_(state), socket_(socket), index_(index), script_(std::move(script)) {
        BOOL noDelay = TRUE; // so that split replies leave as separate packets
        setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay);
    }
    ~Session() { CloseSocket(socket_); }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void Run() {
        if (!Perform(script_.greeting)) {
            return;
        }
        std::string line;
        std::size_t count = 0;
        while (ReadLine(line)) {
            if (hanging_) {
                continue;
            }
            CommandContext context;
            context.session = index_;
            context.index = count++;
            context.line = line;
            std::size_t blank = line.find(' ');
            context.verb = Upper(line.substr(0, blank));
            context.argument = blank == std::string::npos ? "" : line.substr(blank + 1);
            context.Default = [this, &context] { return Default(context); };
            if (!Perform(Choose(context))) {
                return;
            }
        }
    }

private:
    Response Choose(const CommandContext& context) {
        if (script_.handler) {
            if (std::optional<Response> r = script_.handler(context)) {
                return *r;
            }
        }
        std::string whole = Upper(context.line);
        const Response* byVerb = nullptr;
        for (const auto& [key, response] : script_.replies) {
            std::string upperKey = Upper(key);
            if (upperKey == whole) {
                return response;
            }
            if (upperKey == context.verb) {
                byVerb = &response;
            }
        }
        return byVerb ? *byVerb : Default(context);
    }

    // False when the connection has ended.
    bool Perform(const Response& response) {
        int delay = response.delayMs >= 0 ? response.delayMs : script_.replyDelayMs;
        if (delay > 0 && !state_.Pause(delay)) {
            return false;
        }
        switch (response.kind) {
        case Response::Kind::Send:
            if (!Send(response.bytes)) {
                return false;
            }
            break;
        case Response::Kind::NoReply:
            break;
        case Response::Kind::Hang:
            hanging_ = true;
            break;
        case Response::Kind::Close:
            shutdown(socket_, SD_SEND);
            return false;
        case Response::Kind::Reset:
            Abort();
            return false;
        }
        if (response.resetAfter) {
            Abort();
            return false;
        }
        if (response.closeAfter) {
            shutdown(socket_, SD_SEND);
            return false;
        }
        return true;
    }

    // The close that follows is abortive: the peer sees a reset.
    void Abort() {
        linger abort{1, 0};
        setsockopt(socket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                   sizeof abort);
    }

    bool Send(const std::string& bytes) {
        std::size_t step = script_.packetSize == 0 ? bytes.size() : script_.packetSize;
        for (std::size_t pos = 0; pos < bytes.size();) {
            if (pos > 0 && script_.packetGapMs > 0 && !state_.Pause(script_.packetGapMs)) {
                return false;
            }
            std::size_t end = std::min(bytes.size(), pos + step);
            while (pos < end) {
                if (!state_.WaitReady(socket_, true)) {
                    return false;
                }
                int n = send(socket_, bytes.data() + pos, static_cast<int>(end - pos), 0);
                if (n == SOCKET_ERROR) {
                    return false;
                }
                pos += static_cast<std::size_t>(n);
            }
        }
        return true;
    }

    // Reads one command line; records it and the raw bytes. False at the peer's close, on a
    // socket error or when stopping.
    bool ReadLine(std::string& line) {
        for (;;) {
            std::size_t lf = pending_.find('\n');
            if (lf != std::string::npos || pending_.size() >= kMaxLine) {
                std::size_t take = lf == std::string::npos ? pending_.size() : lf + 1;
                line = pending_.substr(0, take);
                pending_.erase(0, take);
                if (!line.empty() && line.back() == '\n') {
                    line.pop_back();
                    if (!line.empty() && line.back() == '\r') {
                        line.pop_back();
                    }
                }
                std::lock_guard<std::mutex> lock(state_.mutex);
                state_.sessions[index_].commands.push_back(line);
                return true;
            }
            if (!state_.WaitReady(socket_, false)) {
                return false;
            }
            char buffer[4096];
            int n = recv(socket_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                return false;
            }
            pending_.append(buffer, static_cast<std::size_t>(n));
            std::lock_guard<std::mutex> lock(state_.mutex);
            state_.sessions[index_].raw.append(buffer, static_cast<std::size_t>(n));
        }
    }

    Response Status(std::string_view text) const {
        return Response::Raw(std::string(text) + script_.lineEnd);
    }

    Response StatusAndBody(std::string_view status, std::string_view text) const {
        return Response::Raw(std::string(status) + script_.lineEnd + MultiLineBody(text));
    }

    // The message with number `argument` (1-based), or empty when there is none.
    std::optional<std::size_t> Message(std::string_view argument) const {
        std::optional<std::size_t> n = ParseNumber(argument);
        if (!n || *n < 1 || *n > messages_.size() || deleted_[*n - 1]) {
            return std::nullopt;
        }
        return *n - 1;
    }

    Response Default(const CommandContext& c) {
        const std::string& verb = c.verb;
        if (verb == "QUIT") {
            CommitDeletions();
            return Status("+OK pwtest POP3 server signing off").ThenClose();
        }
        if (!loggedIn_) {
            return Authorization(c);
        }
        if (verb == "STAT") {
            std::size_t count = 0, size = 0;
            for (std::size_t i = 0; i < messages_.size(); ++i) {
                if (!deleted_[i]) {
                    ++count;
                    size += messages_[i].Size();
                }
            }
            return Status("+OK " + std::to_string(count) + " " + std::to_string(size));
        }
        if (verb == "LIST" || verb == "UIDL") {
            return Listing(c);
        }
        if (verb == "TOP" || verb == "RETR") {
            return Content(c);
        }
        if (verb == "DELE") {
            std::optional<std::size_t> i = Message(c.argument);
            if (!i) {
                return Status("-ERR no such message");
            }
            deleted_[*i] = true;
            return Status("+OK message " + c.argument + " deleted");
        }
        if (verb == "RSET") {
            std::fill(deleted_.begin(), deleted_.end(), false);
            return Status("+OK");
        }
        if (verb == "NOOP") {
            return Status("+OK");
        }
        return Status("-ERR unknown command");
    }

    Response Authorization(const CommandContext& c) {
        if (c.verb == "USER") {
            user_ = c.argument;
            userGiven_ = true;
            return Status("+OK");
        }
        if (c.verb == "PASS") {
            if (!userGiven_) {
                return Status("-ERR USER first");
            }
            userGiven_ = false;
            std::lock_guard<std::mutex> lock(state_.mutex);
            for (const Mailbox& box : state_.mailboxes) {
                if (box.user == user_ && box.password == c.argument) {
                    loggedIn_ = true;
                    messages_ = box.messages;
                    deleted_.assign(messages_.size(), false);
                    return Status("+OK logged in");
                }
            }
            return Status("-ERR [AUTH] Authentication failed.");
        }
        return Status("-ERR not logged in");
    }

    // LIST and UIDL, with or without a message number.
    Response Listing(const CommandContext& c) {
        bool uidl = c.verb == "UIDL";
        auto entry = [&](std::size_t i) {
            return std::to_string(i + 1) + " " +
                   (uidl ? messages_[i].uid : std::to_string(messages_[i].Size()));
        };
        if (!c.argument.empty()) {
            std::optional<std::size_t> i = Message(c.argument);
            if (!i) {
                return Status("-ERR no such message");
            }
            if (uidl && messages_[*i].uid.empty()) {
                return Status("-ERR no unique-id for message " + c.argument);
            }
            return Status("+OK " + entry(*i));
        }
        std::string text;
        for (std::size_t i = 0; i < messages_.size(); ++i) {
            if (!deleted_[i] && !(uidl && messages_[i].uid.empty())) {
                text += entry(i) + "\r\n";
            }
        }
        return StatusAndBody("+OK", text);
    }

    // TOP n k and RETR n.
    Response Content(const CommandContext& c) {
        std::string argument = c.argument;
        std::optional<std::size_t> lines;
        if (c.verb == "TOP") {
            std::size_t blank = argument.find(' ');
            lines =
                blank == std::string::npos ? std::nullopt : ParseNumber(argument.substr(blank + 1));
            if (!lines) {
                return Status("-ERR usage: TOP message lines");
            }
            argument.resize(blank);
        }
        std::optional<std::size_t> i = Message(argument);
        if (!i) {
            return Status("-ERR no such message");
        }
        const MailMessage& m = messages_[*i];
        if (!lines) {
            return StatusAndBody("+OK " + std::to_string(m.Size()) + " octets", m.Text());
        }
        std::vector<std::string> bodyLines = SplitLines(m.body);
        bodyLines.resize(std::min(bodyLines.size(), *lines));
        return StatusAndBody("+OK", JoinCrlf(SplitLines(m.headers)) + "\r\n" + JoinCrlf(bodyLines));
    }

    // Messages marked with DELE leave the shared mailbox at QUIT.
    void CommitDeletions() {
        if (!loggedIn_) {
            return;
        }
        std::lock_guard<std::mutex> lock(state_.mutex);
        for (Mailbox& box : state_.mailboxes) {
            if (box.user != user_) {
                continue;
            }
            for (std::size_t i = 0; i < messages_.size(); ++i) {
                if (!deleted_[i]) {
                    continue;
                }
                auto same = [&](const MailMessage& m) {
                    return m.uid == messages_[i].uid && m.headers == messages_[i].headers &&
                           m.body == messages_[i].body;
                };
                auto it = std::find_if(box.messages.begin(), box.messages.end(), same);
                if (it != box.messages.end()) {
                    box.messages.erase(it);
                }
            }
            break;
        }
    }

    State& state_;
    SOCKET socket_;
    std::size_t index_;
    SessionScript script_;
    std::string pending_;
    bool hanging_ = false;
    bool userGiven_ = false;
    bool loggedIn_ = false;
    std::string user_;
    std::vector<MailMessage> messages_;
    std::vector<bool> deleted_;
};

ScriptedPop3Server::ScriptedPop3Server() : state_(std::make_shared<State>()) {}

ScriptedPop3Server::~ScriptedPop3Server() {
    Stop();
}

void ScriptedPop3Server::Start(uint16_t port) {
    if (state_->thread.joinable() || state_->stopping) {
        throw std::logic_error("ScriptedPop3Server started twice");
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        throw std::runtime_error("socket failed: " + std::to_string(WSAGetLastError()));
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
        listen(s, 16) == SOCKET_ERROR ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR) {
        int error = WSAGetLastError();
        closesocket(s);
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                                 std::to_string(error));
    }
    port_ = ntohs(address.sin_port);
    state_->listener = s;
    state_->thread = std::thread([this] { Run(); });
}

void ScriptedPop3Server::Stop() {
    state_->stopping = true;
    if (state_->thread.joinable()) {
        state_->thread.join();
    }
    CloseSocket(state_->listener);
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->listenerClosed = true;
    state_->changed.notify_all();
}

void ScriptedPop3Server::Run() {
    try {
        while (ServeOneConnection()) {
        }
    } catch (...) {
        // A throwing handler ends the serving; the test sees the missing replies.
    }
    CloseSocket(state_->listener);
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->listenerClosed = true;
    state_->changed.notify_all();
}

bool ScriptedPop3Server::ServeOneConnection() {
    State& s = *state_;
    if (s.listener == INVALID_SOCKET) {
        return s.Pause(kPollMs);
    }
    if (!s.WaitReady(s.listener, false)) {
        return false;
    }
    if (s.listener == INVALID_SOCKET) {
        return true; // closed by RefuseConnections while waiting
    }
    SOCKET client = accept(s.listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) {
        return true;
    }
    std::size_t index;
    SessionScript script;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        index = s.sessions.size();
        s.sessions.emplace_back();
        if (s.queued.empty()) {
            script = s.script;
        } else {
            script = std::move(s.queued.front());
            s.queued.pop_front();
        }
    }
    {
        Session session(s, client, index, std::move(script));
        try {
            session.Run();
        } catch (...) {
            std::lock_guard<std::mutex> lock(s.mutex);
            s.sessions[index].finished = true;
            s.changed.notify_all();
            throw;
        }
    }
    std::lock_guard<std::mutex> lock(s.mutex);
    s.sessions[index].finished = true;
    s.changed.notify_all();
    return !s.stopping;
}

void ScriptedPop3Server::AddMailbox(Mailbox mailbox) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->mailboxes.push_back(std::move(mailbox));
}

void ScriptedPop3Server::SetMailboxes(std::vector<Mailbox> mailboxes) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->mailboxes = std::move(mailboxes);
}

std::vector<Mailbox> ScriptedPop3Server::Mailboxes() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->mailboxes;
}

void ScriptedPop3Server::SetScript(SessionScript script) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->script = std::move(script);
}

void ScriptedPop3Server::QueueScript(SessionScript script) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->queued.push_back(std::move(script));
}

void ScriptedPop3Server::RefuseConnections() {
    state_->refuseRequested = true;
    std::unique_lock<std::mutex> lock(state_->mutex);
    if (!state_->thread.joinable()) {
        lock.unlock();
        CloseSocket(state_->listener);
        return;
    }
    state_->changed.wait(lock, [this] { return state_->listenerClosed; });
}

std::size_t ScriptedPop3Server::ConnectionCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->sessions.size();
}

std::size_t ScriptedPop3Server::FinishedSessionCount() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return static_cast<std::size_t>(
        std::count_if(state_->sessions.begin(), state_->sessions.end(),
                      [](const State::Record& r) { return r.finished; }));
}

bool ScriptedPop3Server::WaitForFinishedSessions(std::size_t count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return static_cast<std::size_t>(
                   std::count_if(state_->sessions.begin(), state_->sessions.end(),
                                 [](const State::Record& r) { return r.finished; })) >= count;
    });
}

std::vector<std::string> ScriptedPop3Server::Transcript() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<std::string> all;
    for (const State::Record& r : state_->sessions) {
        all.insert(all.end(), r.commands.begin(), r.commands.end());
    }
    return all;
}

std::vector<std::string> ScriptedPop3Server::SessionTranscript(std::size_t session) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return session < state_->sessions.size() ? state_->sessions[session].commands
                                             : std::vector<std::string>{};
}

std::string ScriptedPop3Server::RawReceived(std::size_t session) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return session < state_->sessions.size() ? state_->sessions[session].raw : std::string{};
}

uint16_t ScriptedPop3Server::UnusedPort() {
    WinsockUse winsock;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == SOCKET_ERROR) {
        closesocket(s);
        throw std::runtime_error("cannot bind a loopback port");
    }
    closesocket(s);
    return ntohs(address.sin_port);
}

} // namespace pw::test
