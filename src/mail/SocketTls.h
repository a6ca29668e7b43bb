// The socket's TLS layer: the channel, the records received and not yet decrypted, and what
// the channel answered while decrypting. It does no I/O; the socket runs the handshake inside
// its counted waits (SocketTls.cpp) and feeds it what arrives.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mail/TlsChannel.h"

namespace pw {

class SocketTls {
public:
    // Raises as TlsChannel does.
    explicit SocketTls(TlsPeer peer);

    bool Established() const { return channel_.Established(); }
    // Appends the ClientHello to out.
    void Start(std::string& out) { channel_.Start(out); }
    // Whether records wait for the next handshake step.
    bool HasInput() const { return !in_.empty(); }
    // One handshake step on the records received; true once established.
    bool Continue(std::string& out) { return channel_.Continue(in_, out); }

    // Bytes received: kept while the handshake runs, decrypted into plain once it is done.
    // False once the server has ended the session.
    bool Receive(std::string_view bytes, std::string& plain);
    // Decrypts what came with the end of the handshake; false when the session ended at once.
    bool DecryptPending(std::string& plain);
    // What must go out before the next line: the channel's answers to the server not sent yet,
    // then plain as records.
    std::string Wrap(std::string_view plain);
    // The channel's answers to the server (a renegotiation, an alert after a failure), to be
    // sent at once; what is sent is erased from the front.
    std::string& Reply() { return reply_; }
    std::optional<int> PinnedDaysLeft() const { return channel_.PinnedDaysLeft(); }
    // The closing alert, when the session is up; never raises.
    std::string Shutdown() noexcept;

private:
    TlsChannel channel_;
    std::string in_;
    std::string reply_;
};

} // namespace pw
