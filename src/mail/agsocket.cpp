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
#include "core/Text.h"
#include "mail/agwsock.h"
#include "win/MessagePump.h"

namespace pw {

namespace {

constexpr char kTerminator[] = "\r\n.\r\n";
constexpr size_t kTerminatorSize = sizeof kTerminator - 1;
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

TTimeCounter::TTimeCounter() : Timer(nullptr, 1000, false) {
    Timer.OnTimer = [this](TObject&) { Tick(); };
}

void TTimeCounter::Start() {
    Remaining = Limit;
    Timer.SetEnabled(true);
}

void TTimeCounter::Stop() {
    Timer.SetEnabled(false);
}

void TTimeCounter::Tick() {
    --Remaining;
    if (Remaining <= 0)
        Expired = true;
}

TagSocket::TagSocket(TComponent* owner)
    : TComponent(owner),
      EventWindow(UtilityWindow::Kind::MessageOnly,
                  [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                      return SocketWndProc(msg, wParam, lParam, result);
                  }) {
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
    } catch (const Exception&) {
        // The library was unloaded meanwhile; it took its sockets with it.
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

template <typename Condition> void TagSocket::WaitCounted(Condition condition) {
    Counter.Start();
    WaitUntil([&] { return Canceled || Counter.Expired || condition(); });
    Counter.Stop();
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

std::string TagSocket::HostPart() const {
    return Server.substr(0, Server.find(':'));
}

int32_t TagSocket::PortPart() const {
    const size_t colon = Server.find(':');
    if (colon == std::string::npos)
        return 0;
    return StrToIntDef(std::string_view(Server).substr(colon + 1), 0);
}

void TagSocket::ResolveHost() {
    const std::string host = HostPart();
    if (host.size() >= hostName_.size())
        RaiseSocketError(kMsgErrorResolvingHost);
    hostName_.fill(0);
    host.copy(hostName_.data(), host.size());
    RemoteAddress = SharedWinsock().inet_addr(hostName_.data());
    if (RemoteAddress != INADDR_NONE)
        return;

    lookupResult_.fill(0);
    AsyncHandle = SharedWinsock().WSAAsyncGetHostByName(EventWindow.Handle(), WM_HOSTLOOKUP,
                                                        hostName_.data(), lookupResult_.data(),
                                                        static_cast<int>(lookupResult_.size()));
    if (AsyncHandle == nullptr)
        RaiseSocketError(static_cast<uint16_t>(SharedWinsock().WSAGetLastError()));
    WaitCounted([this] { return HostResolved; });
    if (HostResolved)
        AsyncHandle = nullptr;
    if (ErrorPending)
        RaiseSocketError(AsyncError);
    if (Counter.Expired)
        RaiseTimedOut();
    if (Canceled)
        RaiseCanceled();
    ProcessMessages();

    const auto* entry = reinterpret_cast<const hostent*>(lookupResult_.data());
    if (entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr || entry->h_length < 4)
        RaiseSocketError(kMsgErrorResolvingHost);
    const auto* bytes = reinterpret_cast<const unsigned char*>(entry->h_addr_list[0]);
    const std::string dotted = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                               std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
    RemoteAddress = SharedWinsock().inet_addr(dotted.c_str());
    if (RemoteAddress == INADDR_NONE)
        RaiseSocketError(kMsgErrorResolvingHost);
}

void TagSocket::ResolvePort() {
    const auto port = static_cast<uint16_t>(PortPart());
    if (port != 0) {
        RemotePort = port;
        return;
    }
    if (ServiceName.empty())
        RaiseSocketError(kMsgServiceNameRequired);
    if (Canceled)
        RaiseCanceled();
    if (ServiceName.size() >= serviceName_.size())
        RaiseSocketError(WSAEINVAL);
    serviceName_.fill(0);
    ServiceName.copy(serviceName_.data(), ServiceName.size());

    lookupResult_.fill(0);
    AsyncHandle = SharedWinsock().WSAAsyncGetServByName(
        EventWindow.Handle(), WM_SERVLOOKUP, serviceName_.data(), "tcp", lookupResult_.data(),
        static_cast<int>(lookupResult_.size()));
    if (AsyncHandle == nullptr) {
        RemotePort = DefaultPort;
        return;
    }
    WaitCounted([this] { return ServiceResolved; });
    if (!ServiceResolved)
        CancelAsyncRequest();
    AsyncHandle = nullptr;
    if (ErrorPending || Counter.Expired) {
        RemotePort = DefaultPort;
        return;
    }
    if (Canceled)
        RaiseCanceled();
    const auto* entry = reinterpret_cast<const servent*>(lookupResult_.data());
    const auto networkPort = static_cast<uint16_t>(entry->s_port);
    RemotePort = static_cast<uint16_t>((networkPort >> 8) | (networkPort << 8));
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
        if (Canceled)
            RaiseCanceled();
        if (Counter.Expired)
            RaiseTimedOut();
        if (!ConnectDone)
            RaiseSocketError(AsyncError);
    } catch (...) {
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
    if (!IsSocketOpen())
        RaiseSocketError(kMsgNotConnected);
    const std::string text = line + "\r\n";
    size_t position = 0;
    WaitCounted([&] {
        const int sent = SharedWinsock().send(SocketHandle, text.data() + position,
                                              static_cast<int>(text.size() - position), 0);
        if (sent == SOCKET_ERROR)
            CheckWouldBlock();
        else
            position += static_cast<size_t>(sent);
        return position >= text.size();
    });
    if (Counter.Expired)
        RaiseTimedOut();
    if (Canceled)
        RaiseCanceled();
}

bool TagSocket::ReceiveLinePart(char* buffer, size_t& count, bool& found, bool& peerClosed) {
    const size_t capacity = kReplyBufferSize - 1; // the last byte stays zero
    char discard[kReplyBufferSize];
    for (int round = 0; round < kReceiveRounds; ++round) {
        // Once the buffer is full the rest of the line is read past, up to its LF.
        const bool full = count >= capacity;
        char* target = full ? discard : buffer + count;
        const int room = static_cast<int>(full ? sizeof discard : capacity - count);
        // Peek first: a byte after the LF belongs to the next reply.
        const int peeked = SharedWinsock().recv(SocketHandle, target, room, MSG_PEEK);
        if (peeked == SOCKET_ERROR) {
            CheckWouldBlock();
            return false;
        }
        if (peeked == 0) {
            peerClosed = true;
            return true;
        }
        const auto* lf = static_cast<const char*>(std::memchr(target, '\n', peeked));
        const int wanted = lf != nullptr ? static_cast<int>(lf - target) + 1 : peeked;
        const int taken = SharedWinsock().recv(SocketHandle, target, wanted, 0);
        if (taken == SOCKET_ERROR) {
            CheckWouldBlock();
            return false;
        }
        if (taken == 0) {
            peerClosed = true;
            return true;
        }
        if (!full)
            count += static_cast<size_t>(taken);
        if (lf != nullptr && taken == wanted) {
            found = true;
            return true;
        }
    }
    return false;
}

void TagSocket::WaitForData() {
    if (!IsSocketOpen())
        RaiseSocketError(kMsgNotConnected);
    // A close by the peer also ends this wait: the read that follows finds out what is left.
    WaitCounted([this] { return ReadReady || ErrorPending || ClosedByPeer; });
    if (Canceled)
        RaiseCanceled();
    if (Counter.Expired)
        RaiseTimedOut();
    if (ErrorPending)
        RaiseSocketError(AsyncError);
    ReadReady = false;
}

int TagSocket::ReadReply(std::string& line) {
    int result = -1;
    WaitForData();
    char buffer[kReplyBufferSize] = {};
    size_t count = 0;
    bool found = false;
    bool peerClosed = false;
    line.clear();
    WaitCounted([&] { return ReceiveLinePart(buffer, count, found, peerClosed); });
    if (found) {
        line.assign(buffer, count);
        TrimTrailingLineEnds(line);
        result = ReplyCode(line);
    } else if (peerClosed) {
        // Nothing more can come: close now rather than leave a dead socket that looks open.
        Close();
    }
    if (Counter.Expired)
        RaiseTimedOut();
    if (Canceled)
        RaiseCanceled();
    return result;
}

void TagSocket::ReadMultiLine(TMemoryStream& stream, int32_t expectedSize) {
    WaitForData();

    std::vector<char> buffer(kMultiLineChunk);
    bool done = false;
    bool peerClosed = false;
    bool tooLong = false;
    WaitCounted([&] {
        const int received =
            SharedWinsock().recv(SocketHandle, buffer.data(), static_cast<int>(buffer.size()), 0);
        if (received == SOCKET_ERROR)
            CheckWouldBlock();
        const auto transferred = static_cast<int32_t>(stream.Position());
        Fire(OnProgress, *this, expectedSize > 0 ? RoundedPercent(transferred, expectedSize) : -1,
             transferred);
        if (received > 0) {
            if (stream.Size() + static_cast<size_t>(received) > MaxMultiLineSize) {
                tooLong = true;
                return true;
            }
            stream.Write(buffer.data(), static_cast<size_t>(received));
            // Looking at the stream finds the terminator across any split between packets.
            const size_t end = stream.Position();
            done = end >= kTerminatorSize &&
                   stream.Data().compare(end - kTerminatorSize, kTerminatorSize, kTerminator) == 0;
            Counter.Start(); // the time-out counts from the last data received
        } else if (received == 0) {
            peerClosed = true;
        }
        return done || peerClosed;
    });
    if (Counter.Expired)
        RaiseTimedOut();
    if (Canceled)
        RaiseCanceled();
    if (tooLong) {
        // The rest of the reply is never read: the dialogue cannot go on.
        Counter.Stop();
        Close();
        throw EServerLimitError("reply longer than " + std::to_string(MaxMultiLineSize) + " bytes");
    }
    // The reply can never be completed: fail now, as a reset connection does.
    if (!done)
        RaiseSocketError(WSAECONNRESET);
}

void TagSocket::Close() {
    if (IsSocketOpen()) {
        Fire(OnClosing, *this);
        SharedWinsock().closesocket(SocketHandle);
        SocketHandle = INVALID_SOCKET;
        Fire(OnClosed, *this);
    }
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
