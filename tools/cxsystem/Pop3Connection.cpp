// Blocking POP3 connection of the stand-in client; see Pop3Connection.h.
#include "Pop3Connection.h"

#include "core/Errors.h"
#include "core/ServerField.h"
#include "core/Text.h"

#include <algorithm>
#include <cstring>

namespace pw {

namespace {

std::string SocketErrorText(const char* what) {
    return std::string(what) + " (Winsock error " + std::to_string(WSAGetLastError()) + ")";
}

in_addr Resolve(const std::string& host) {
    // gethostbyname copies the name into a fixed buffer of its own on some stacks.
    if (host.empty() || host.size() > 255)
        throw ESocketError("Invalid host name");
    in_addr address{};
    address.s_addr = inet_addr(host.c_str());
    if (address.s_addr != INADDR_NONE)
        return address;
    const hostent* entry = gethostbyname(host.c_str());
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr)
        throw ESocketError(SocketErrorText(("Cannot resolve " + host).c_str()));
    std::memcpy(&address, entry->h_addr_list[0], 4);
    return address;
}

void SetBlocking(SOCKET s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
        throw ESocketError(SocketErrorText("Cannot set the socket mode"));
}

} // namespace

WinsockSession::WinsockSession() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        throw ESocketError("Windows Sockets cannot start");
}

WinsockSession::~WinsockSession() {
    WSACleanup();
}

void SplitServer(std::string_view server, std::string& host, unsigned& port) {
    // Split where the agent splits, so that both reach the same server for one account.
    const ServerFieldParts parts = SplitServerField(server);
    host.assign(ServerHostPart(server));
    port = Pop3Connection::kDefaultPort;
    if (!parts.HasPort)
        return;
    const std::string_view digits = TrimRightView(parts.Port);
    const std::optional<int32_t> value = TryStrToInt(digits);
    const bool onlyDigits =
        !digits.empty() &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!onlyDigits || !value || *value < 1 || *value > 65535)
        throw ESocketError("Invalid port in server name");
    port = static_cast<unsigned>(*value);
}

Pop3Connection::Pop3Connection(std::string_view server, unsigned timeoutMs, unsigned sessionLimitMs)
    : timeoutMs_(timeoutMs), sessionLimitMs_(sessionLimitMs), startTick_(GetTickCount()) {
    std::string host;
    unsigned port = kDefaultPort;
    SplitServer(server, host, port);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr = Resolve(host);
    peer.sin_port = htons(static_cast<u_short>(port));

    socket_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket_)
        throw ESocketError(SocketErrorText("Cannot create a socket"));
    // A non-blocking connect is the only way to bound the wait for it.
    SetBlocking(socket_.get(), false);
    if (connect(socket_.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            throw ESocketError(SocketErrorText("Cannot connect"));
        WaitFor(true);
        int error = 0;
        int size = sizeof error;
        if (getsockopt(socket_.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                       &size) != 0 ||
            error != 0)
            throw ESocketError("Cannot connect (Winsock error " + std::to_string(error) + ")");
    }
    SetBlocking(socket_.get(), true);
}

unsigned Pop3Connection::NextWaitMs() const {
    const DWORD elapsed = GetTickCount() - startTick_;
    if (elapsed >= sessionLimitMs_)
        throw ETimedOutError();
    return std::min<unsigned>(timeoutMs_, sessionLimitMs_ - elapsed);
}

void Pop3Connection::WaitFor(bool write) {
    const unsigned waitMs = NextWaitMs();
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket_.get(), &ready);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket_.get(), &failed);
    timeval limit{static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000};
    // A failed non-blocking connect shows up in the exception set, not the write set.
    const int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr,
                         write ? &failed : nullptr, &limit);
    if (n == SOCKET_ERROR)
        throw ESocketError(SocketErrorText("Waiting for the server failed"));
    if (n == 0)
        throw ETimedOutError();
}

void Pop3Connection::SendLine(std::string_view line) {
    std::string data(line);
    data += "\r\n";
    if (tls_ == nullptr) {
        SendRaw(data);
        return;
    }
    std::string records;
    tls_->Encrypt(data, records);
    SendRaw(records);
}

void Pop3Connection::SendRaw(const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        WaitFor(true);
        const int n =
            send(socket_.get(), data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n == SOCKET_ERROR)
            throw ESocketError(SocketErrorText("Sending to the server failed"));
        sent += static_cast<size_t>(n);
    }
}

bool Pop3Connection::ReceiveRaw() {
    WaitFor(false);
    char chunk[4096];
    const int n = recv(socket_.get(), chunk, sizeof chunk, 0);
    if (n == SOCKET_ERROR)
        throw ESocketError(SocketErrorText("Receiving from the server failed"));
    raw_.append(chunk, static_cast<size_t>(n));
    return n > 0;
}

void Pop3Connection::Fill() {
    if (readPos_ > 0) {
        buffer_.erase(0, readPos_);
        readPos_ = 0;
    }
    const size_t before = buffer_.size();
    while (buffer_.size() == before) {
        if (!ReceiveRaw())
            throw ESocketError("The server closed the connection");
        if (tls_ == nullptr) {
            buffer_ += raw_;
            raw_.clear();
            continue;
        }
        std::string reply;
        const bool open = tls_->Decrypt(raw_, buffer_, reply);
        if (!reply.empty())
            SendRaw(reply);
        if (!open && buffer_.size() == before)
            throw ESocketError("The server closed the connection");
    }
}

void Pop3Connection::StartTls(TlsPeer peer) {
    tls_ = std::make_unique<TlsChannel>(std::move(peer));
    // Whatever followed the last clear-text line is the start of the handshake.
    raw_ = buffer_.substr(readPos_);
    buffer_.clear();
    readPos_ = 0;
    std::string out;
    tls_->Start(out);
    for (;;) {
        SendRaw(out);
        out.clear();
        const bool established = !raw_.empty() && tls_->Continue(raw_, out);
        if (established)
            break;
        if (out.empty() && !ReceiveRaw())
            throw ETlsError("the server closed the connection during the TLS handshake");
    }
    SendRaw(out);
    if (!raw_.empty()) {
        std::string reply;
        tls_->Decrypt(raw_, buffer_, reply);
        if (!reply.empty())
            SendRaw(reply);
    }
}

std::string Pop3Connection::ReadLine() {
    std::string line;
    bool cut = false;
    for (;;) {
        const size_t lf = buffer_.find('\n', readPos_);
        const size_t end = lf == std::string::npos ? buffer_.size() : lf;
        // Over-long lines are cut; the rest up to the LF is dropped to stay in step.
        if (!cut) {
            const size_t room = kMaxLineBytes - line.size();
            const size_t take = std::min(room, end - readPos_);
            line.append(buffer_, readPos_, take);
            cut = take < end - readPos_;
        }
        if (lf != std::string::npos) {
            readPos_ = lf + 1;
            break;
        }
        readPos_ = buffer_.size();
        Fill();
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void Pop3Connection::ReadGreeting() {
    const std::string reply = ReadLine();
    if (!StartsWith(reply, "+"))
        throw EServerError(reply);
}

std::string Pop3Connection::Command(std::string_view line) {
    SendLine(line);
    std::string reply = ReadLine();
    if (!StartsWith(reply, "+"))
        throw EServerError(reply);
    return reply;
}

std::string Pop3Connection::ReadMultiLine(std::size_t maxBytes, bool* truncated) {
    std::string text;
    bool dropped = false;
    for (;;) {
        std::string line = ReadLine();
        if (line == ".")
            break;
        std::string_view content = line;
        if (StartsWith(content, "."))
            content.remove_prefix(1);
        if (dropped || text.size() + content.size() + 2 > maxBytes) {
            dropped = true;
            continue;
        }
        text.append(content);
        text += "\r\n";
    }
    if (truncated != nullptr)
        *truncated = dropped;
    return text;
}

} // namespace pw
