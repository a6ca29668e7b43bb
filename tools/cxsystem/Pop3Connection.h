// A blocking POP3 connection for the stand-in mail client: connect, send command lines, read
// status lines and multi-line replies. Every wait has a time-out, so a silent server never
// holds the client; every reply line and every reply is bounded.
#pragma once

#include <winsock2.h>

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "mail/TlsChannel.h"
#include "win/Handles.h"

namespace pw {

struct SocketTraits {
    using pointer = SOCKET;
    static pointer invalid() { return INVALID_SOCKET; }
    static void close(pointer s) { closesocket(s); }
};
using UniqueSocket = UniqueHandle<SocketTraits>;

// Winsock started for the lifetime of the object; raises ESocketError when it cannot start.
class WinsockSession {
public:
    WinsockSession();
    ~WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
};

class Pop3Connection {
public:
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;
    static constexpr unsigned kDefaultPort = 110;

    // Connects to server ("host" or "host:port"). Each wait for the peer may last timeoutMs;
    // the whole connection lives at most sessionLimitMs. Raises ESocketError or
    // ETimedOutError.
    Pop3Connection(std::string_view server, unsigned timeoutMs, unsigned sessionLimitMs);

    // Reads the greeting; raises EServerError unless it is positive.
    void ReadGreeting();
    // Runs the TLS handshake (the agent's channel); from then on every line is encrypted.
    void StartTls(TlsPeer peer);
    // Sends one command and reads its status line; raises EServerError (the reply line) unless
    // it is positive. Returns the status line.
    std::string Command(std::string_view line);
    // Reads the lines of a multi-line reply up to the "." line, undoes dot-stuffing and returns
    // them joined by CR LF. Bytes past maxBytes are read and dropped; truncated tells.
    std::string ReadMultiLine(std::size_t maxBytes, bool* truncated = nullptr);

private:
    void SendLine(std::string_view line);
    std::string ReadLine();
    void Fill();
    // Waits until the socket can be read (or written); raises ETimedOutError.
    void WaitFor(bool write);
    unsigned NextWaitMs() const;

    UniqueSocket socket_;
    // One recv into raw_; false when the peer closed.
    bool ReceiveRaw();
    void SendRaw(const std::string& bytes);

    std::string buffer_;
    std::size_t readPos_ = 0;
    std::unique_ptr<TlsChannel> tls_;
    std::string raw_; // TLS records received and not yet decrypted
    unsigned timeoutMs_;
    unsigned sessionLimitMs_;
    DWORD startTick_;
};

// Splits "host:port" (port 1 to 65535) or "host" (the default port). Raises ESocketError for a
// port that is not a number in range.
void SplitServer(std::string_view server, std::string& host, unsigned& port);

} // namespace pw
