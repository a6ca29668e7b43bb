// The socket's TLS layer: the channel, the records received and not yet decrypted, and what
// the channel answered while decrypting. It does no I/O; the socket runs the handshake inside
// its counted waits (SocketTls.cpp) and feeds it what arrives.
#pragma once

#include <string>
#include <string_view>

#include "mail/TlsChannel.h"

namespace pw {

class SocketTls {
public:
    // leftover is what the server sent after its last clear-text line: it can only be the
    // start of the handshake, never a reply line. Raises as TlsChannel does.
    SocketTls(TlsPeer peer, std::string leftover);

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
    // What must go out before the next line: the channel's answers to the server since the last
    // call, then plain as records.
    std::string Wrap(std::string_view plain);
    // The closing alert, when the session is up; never raises.
    std::string Shutdown() noexcept;

private:
    TlsChannel channel_;
    std::string in_;
    std::string reply_;
};

} // namespace pw
