// Socket connection; see agsocket.h. Every wait goes through WaitUntil, which sleeps in the
// message wait between rounds; the flags it tests are set by the notification window and the
// counter's timer while it pumps.
#include "agsocket.h"

#include <cstring>
#include <vector>

#include "core/Errors.h"
#include "core/MemoryStream.h"
#include "core/MessageTable.h"
#include "core/Pop3Reply.h"
#include "core/ScopeExit.h"
#include "core/Text.h"
#include "mail/agwsock.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

namespace {

constexpr char kTerminator[] = "\r\n.\r\n";
constexpr size_t kTerminatorSize = sizeof kTerminator - 1;
// The most one recv takes: a multi-line reply arrives in chunks of up to this size.
constexpr size_t kReceiveChunk = 16384;
// Rounds of receiving per wait round: a peer that floods us still lets messages through.
constexpr int kReceiveRounds = 64;

// value * 100 / total to the nearest integer, halves to even.
int32_t RoundedPercent(int64_t value, int64_t total) {
    const int64_t numerator = value * 100;
    int64_t quotient = numerator / total;
    const int64_t twiceRemainder = (numerator % total) * 2;
    if (twiceRemainder > total || (twiceRemainder == total && quotient % 2 != 0))
        ++quotient;
    return static_cast<int32_t>(quotient);
}

void TrimTrailingLineEnds(std::string& line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
}

} // namespace

TagSocket::TagSocket(TComponent* owner)
    : TComponent(owner),
      EventWindow(UtilityWindow::Kind::MessageOnly,
                  [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                      return SocketWndProc(msg, wParam, lParam, result);
                  }),
      receiveChunk_(kReceiveChunk) {
    // A new socket starts with the shared binding unloaded (its published default is off); the
    // owner's WinsockLoaded setting loads it again before any use.
    SetWinsockLoaded(false);
}

TagSocket::~TagSocket() {
    try {
        CancelAsyncRequest();
        // The handle is ours: it does not outlive the component.
        if (IsSocketOpen())
            SharedWinsock().closesocket(SocketHandle);
        for (; StartupCount_ > 0; --StartupCount_)
            SharedWinsock().WSACleanup();
    } catch (const Exception& e) {
        // The library was unloaded meanwhile; it took its sockets with it.
        TraceCaught("socket destroyed", e);
    }
}

bool TagSocket::WinsockLoaded() const {
    return SharedWinsock().IsLoaded();
}

void TagSocket::SetWinsockLoaded(bool value) {
    if (!value)
        SharedWinsock().Unload();
    else if (!SharedWinsock().IsLoaded())
        SharedWinsock().Load();
}

void TagSocket::SetRAS(IDialLink* value) {
    if (rasComponent_ != nullptr)
        RemoveFreeNotification(rasComponent_);
    RAS_ = value;
    rasComponent_ = dynamic_cast<TComponent*>(value);
    if (rasComponent_ != nullptr)
        FreeNotification(rasComponent_);
}

void TagSocket::Notification(TComponent& component, TOperation operation) {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && &component == rasComponent_) {
        RAS_ = nullptr;
        rasComponent_ = nullptr;
    }
}

bool TagSocket::SocketWndProc(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (msg != WM_HOSTLOOKUP && msg != WM_SERVLOOKUP && msg != WM_SOCKETEVENT)
        return false;
    result = 0;
    const uint16_t error = TagWinsock::AsyncErrorOf(lParam);
    if (msg == WM_SOCKETEVENT) {
        // A notice still queued for a socket closed since must not touch this connection.
        if (static_cast<SOCKET>(wParam) != SocketHandle)
            return true;
        AsyncError = error;
        ErrorPending = error != 0;
        if (error == 0) {
            switch (TagWinsock::SelectEventOf(lParam)) {
            case FD_READ:
                ReadReady = true;
                break;
            case FD_CONNECT:
                ConnectDone = true;
                break;
            case FD_CLOSE:
                ClosedByPeer = true;
                break;
            default:
                break;
            }
        }
        return true;
    }
    // Likewise the completion of a lookup that was cancelled or abandoned.
    if (AsyncHandle == nullptr || reinterpret_cast<HANDLE>(wParam) != AsyncHandle)
        return true;
    (msg == WM_HOSTLOOKUP ? HostResolved : ServiceResolved) = true;
    AsyncError = error;
    ErrorPending = error != 0;
    return true;
}

void TagSocket::WaitCounted(const std::function<bool()>& condition) {
    Counter.Start();
    // A condition may raise (a TLS record that fails): the counter stops all the same. Its timer
    // stays armed for the connection's next wait, and goes with the connection.
    const ScopeExit stop([this] {
        Counter.Stop();
        if (!IsSocketOpen())
            Counter.Release();
    });
    WaitUntil([&] { return Canceled || Counter.Expired || condition(); }, INFINITE,
              WaitStart::Block);
}

void TagSocket::RaiseWaitEnd(std::initializer_list<WaitEnd> order) {
    for (const WaitEnd end : order) {
        if (end == WaitEnd::Expired && Counter.Expired)
            RaiseTimedOut();
        if (end == WaitEnd::Canceled && Canceled)
            RaiseCanceled();
        if (end == WaitEnd::Failed && ErrorPending)
            RaiseSocketError(AsyncError);
    }
}

void TagSocket::ResetState() {
    Canceled = false;
    Counter.Expired = false;
    ErrorPending = false;
    HostResolved = false;
    ServiceResolved = false;
    ConnectDone = false;
    ReadReady = false;
    ClosedByPeer = false;
    AsyncHandle = nullptr;
}

int TagSocket::ReplyCode(const std::string& line) {
    return NumericReplyCode(line);
}

void TagSocket::Open() {
    if (RAS_ != nullptr)
        RAS_->Connect();
    Fire(OnOpen, *this);
    if (Server.empty())
        RaiseSocketError(kMsgServerRequired);
    if (SharedWinsock().WSAStartup(0x0101, &WsaData) != 0)
        RaiseSocketError(kMsgInvalidWinsockVersion);
    ++StartupCount_;
    ResolveHost();
    ResolvePort();
    CreateSocket();
}

void TagSocket::CreateSocket() {
    SocketHandle = SharedWinsock().socket(AF_INET, SOCK_STREAM, 0);
    if (SocketHandle == INVALID_SOCKET)
        RaiseSocketError(static_cast<uint16_t>(SharedWinsock().WSAGetLastError()));
}

void TagSocket::ConnectSocket() {
    if (Canceled)
        RaiseCanceled();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = SharedWinsock().htons(RemotePort);
    address.sin_addr.s_addr = RemoteAddress;
    // A lookup's error was dealt with by Open; from here on an error is the connection's.
    ErrorPending = false;
    if (SharedWinsock().WSAAsyncSelect(SocketHandle, EventWindow.Handle(), WM_SOCKETEVENT,
                                       FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE) == SOCKET_ERROR)
        RaiseSocketError(static_cast<uint16_t>(SharedWinsock().WSAGetLastError()));

    // A socket whose connect failed is of no further use: it is closed before the error is
    // raised, so that no one sends QUIT on it (on Windows that send fails with WSAENOTCONN and
    // would leave the socket open for good).
    try {
        if (SharedWinsock().connect(SocketHandle, reinterpret_cast<const sockaddr*>(&address),
                                    sizeof address) == SOCKET_ERROR) {
            const int code = SharedWinsock().WSAGetLastError();
            if (code != WSAEWOULDBLOCK)
                RaiseSocketError(static_cast<uint16_t>(code));
        }
        // A refused or unreachable peer arrives as FD_CONNECT with an error: fail at once.
        WaitCounted([this] { return ConnectDone || ErrorPending; });
        // A cancel first: the user stopped the check, whatever else the round brought. The
        // connection's error counts only when it did not come up after all.
        RaiseWaitEnd({WaitEnd::Canceled, WaitEnd::Expired});
        if (!ConnectDone)
            RaiseWaitEnd({WaitEnd::Failed});
    } catch (...) {
        TraceCaughtCurrent("connect");
        Close();
        throw;
    }
}

void TagSocket::CheckWouldBlock() {
    const int code = SharedWinsock().WSAGetLastError();
    if (code != WSAEWOULDBLOCK && !Canceled)
        RaiseSocketError(static_cast<uint16_t>(code));
}

void TagSocket::SendLine(const std::string& line) {
    SendLines({line});
}

void TagSocket::SendLines(const std::vector<std::string>& lines) {
    if (!IsSocketOpen())
        RaiseSocketError(kMsgNotConnected);
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    SendData(text);
}

void TagSocket::SendBytes(const std::string& text) {
    size_t position = 0;
    const auto sendSome = [&] {
        const int sent = SharedWinsock().send(SocketHandle, text.data() + position,
                                              static_cast<int>(text.size() - position), 0);
        if (sent == SOCKET_ERROR)
            CheckWouldBlock();
        else
            position += static_cast<size_t>(sent);
        return position >= text.size();
    };
    // A line nearly always fits the send buffer at once: no wait, no counter.
    if (sendSome())
        return;
    WaitCounted(sendSome);
    // The time-out first: it closes the connection, which a cancel has done already.
    RaiseWaitEnd({WaitEnd::Expired, WaitEnd::Canceled});
}

TagSocket::Arrival TagSocket::ReceiveAvailable() {
    const int received = SharedWinsock().recv(SocketHandle, receiveChunk_.data(),
                                              static_cast<int>(receiveChunk_.size()), 0);
    if (received == SOCKET_ERROR) {
        CheckWouldBlock();
        return Arrival::None;
    }
    if (received == 0)
        return Arrival::Closed;
    if (tls_ == nullptr) {
        received_.append(receiveChunk_.data(), static_cast<size_t>(received));
        return Arrival::Data;
    }
    try {
        const bool open =
            tls_->Receive({receiveChunk_.data(), static_cast<size_t>(received)}, received_);
        // A renegotiation's answer goes now: the server waits for it before it says more.
        SendAtOnce(tls_->Reply());
        if (!open)
            return Arrival::Closed; // the peer ended the TLS session
    } catch (const Exception& e) {
        // A broken record or a certificate refused in a renegotiation: the session cannot go
        // on, and nothing more may be read from it.
        TraceCaught("TLS record", e);
        SendAtOnce(tls_->Reply());
        Close();
        throw;
    }
    return Arrival::Data;
}

bool TagSocket::TakeLine(std::string& line) {
    const size_t capacity = kReplyBufferSize - 1;
    const size_t lf = received_.find('\n', scanned_);
    if (lf == std::string::npos) {
        // An over-long line keeps its first bytes; the rest is dropped as it comes, up to its LF.
        if (received_.size() > capacity)
            received_.resize(capacity);
        scanned_ = received_.size();
        return false;
    }
    line.assign(received_, 0, std::min(lf + 1, capacity));
    received_.erase(0, lf + 1);
    scanned_ = 0;
    return true;
}

bool TagSocket::ReceiveUntil(const std::function<bool()>& step) {
    // What is buffered and what the socket holds already are taken without waiting; the wait
    // (counter, message pump) starts only when nothing more is there.
    bool more = false;
    const auto receive = [&] {
        for (int round = 0; round < kReceiveRounds; ++round) {
            if (step())
                return true;
            const Arrival arrival = ReceiveAvailable();
            if (arrival == Arrival::Closed) {
                // The same read may have brought the last data (a reply, then the TLS close).
                step();
                return true;
            }
            if (arrival == Arrival::None) {
                more = false;
                return false;
            }
        }
        more = true; // a peer that floods us still lets messages through between rounds
        return false;
    };
    // Winsock tells of data with FD_READ, again after every recv that left some and for data
    // that comes later: without that notice (or the peer's close) a recv could only say "not
    // yet", a call wasted before every wait for a reply.
    if (ReadReady || ClosedByPeer) {
        ReadReady = false;
        if (receive())
            return true;
    } else if (step()) {
        return true;
    }
    bool satisfied = false;
    WaitCounted([&] {
        if (ErrorPending)
            return true;
        if (!ReadReady && !ClosedByPeer && !more)
            return false;
        ReadReady = false;
        return satisfied = receive();
    });
    return satisfied;
}

int TagSocket::ReadReply(std::string& line) {
    if (!IsSocketOpen())
        RaiseSocketError(kMsgNotConnected);
    line.clear();
    std::string taken;
    bool found = false;
    ReceiveUntil([&] { return found = TakeLine(taken); });
    // The time-out first, as for a send. A line that came whole is taken even when the
    // connection reported an error after it.
    RaiseWaitEnd({WaitEnd::Expired, WaitEnd::Canceled});
    if (found) {
        line = std::move(taken);
        TrimTrailingLineEnds(line);
        return ReplyCode(line);
    }
    RaiseWaitEnd({WaitEnd::Failed});
    // The peer closed before the line ended. Nothing more can come: close now rather than leave
    // a dead socket that looks open.
    received_.clear();
    Close();
    return -1;
}

void TagSocket::ReadMultiLine(TMemoryStream& stream, int32_t expectedSize, bool statusLineEnded) {
    if (!IsSocketOpen())
        RaiseSocketError(kMsgNotConnected);
    bool done = false;
    bool tooLong = false;
    ReceiveUntil([&] {
        const auto transferred = static_cast<int32_t>(stream.Position());
        Fire(OnProgress, *this, expectedSize > 0 ? RoundedPercent(transferred, expectedSize) : -1,
             transferred);
        if (received_.empty())
            return false;
        // The terminator is looked for across the split between what the stream holds (after
        // the status line's CR LF, when that counts) and what came now; bytes after it stay for
        // the next read.
        const size_t before = stream.Size();
        std::string prior = statusLineEnded && before < kTerminatorSize ? "\r\n" : "";
        prior += stream.Data().substr(before >= kTerminatorSize ? before - kTerminatorSize : 0);
        prior.erase(0, prior.size() >= kTerminatorSize ? prior.size() - (kTerminatorSize - 1) : 0);
        const std::string window = prior + received_;
        const size_t end = window.find(kTerminator);
        const size_t take =
            end == std::string::npos ? received_.size() : end + kTerminatorSize - prior.size();
        if (before + take > MaxMultiLineSize) {
            tooLong = true;
            return true;
        }
        stream.Write(received_.data(), take);
        received_.erase(0, take);
        done = end != std::string::npos;
        if (Counter.Counting())
            Counter.Start(); // the time-out counts from the last data received
        return done;
    });
    // As for a reply line: the time-out, a cancel, and the reported error only for a reply that
    // did not end.
    RaiseWaitEnd({WaitEnd::Expired, WaitEnd::Canceled});
    if (tooLong) {
        // The rest of the reply is never read: the dialogue cannot go on.
        Counter.Stop();
        Close();
        throw EServerLimitError("reply longer than " + std::to_string(MaxMultiLineSize) + " bytes");
    }
    if (!done)
        RaiseWaitEnd({WaitEnd::Failed});
    // The reply can never be completed: fail now, as a reset connection does.
    if (!done)
        RaiseSocketError(WSAECONNRESET);
}

void TagSocket::Close() {
    if (IsSocketOpen()) {
        Fire(OnClosing, *this);
        EndTls();
        SharedWinsock().closesocket(SocketHandle);
        SocketHandle = INVALID_SOCKET;
        Fire(OnClosed, *this);
    }
    received_.clear();
    scanned_ = 0;
    tls_.reset();
    Counter.Release();
    if (RAS_ != nullptr)
        RAS_->Cancel();
}

void TagSocket::CancelAsyncRequest() {
    if (AsyncHandle != nullptr) {
        SharedWinsock().WSACancelAsyncRequest(AsyncHandle);
        AsyncHandle = nullptr;
    }
}

void TagSocket::CancelOperation() {
    Canceled = true;
    Fire(OnCancel, *this);
    CancelAsyncRequest();
    Close();
}

void TagSocket::RaiseSocketError(uint16_t number) {
    if (number == 0)
        return;
    Counter.Stop();
    std::string msg = SocketErrorText(number);
    Fire(OnError, *this, msg);
    if (number == WSAECONNRESET)
        Close();
    throw ESocketError(msg);
}

void TagSocket::RaiseTimedOut() {
    Counter.Stop();
    std::string msg = LoadMessage(kMsgTimedOut);
    Fire(OnError, *this, msg);
    CancelAsyncRequest();
    if (SharedWinsock().WSAIsBlocking())
        SharedWinsock().WSACancelBlockingCall();
    Close();
    throw ETimedOutError();
}

void TagSocket::RaiseCanceled() {
    Counter.Stop();
    std::string msg = LoadMessage(kMsgCanceled);
    Fire(OnError, *this, msg);
    throw ECanceledError();
}

} // namespace pw
