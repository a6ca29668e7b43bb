// A TLS client session over Secure Channel that does no I/O of its own: the socket feeds it
// the bytes it received and sends the bytes it hands back, so nothing here blocks or waits.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "mail/agsspi.h"

namespace pw {

struct TlsPeer {
    // The host part of the server setting: a name or a dotted address.
    std::string HostName;
    // Empty, or the certificate's SHA-256 as 64 hex digits (colons and blanks allowed, any
    // case); when set it replaces the chain and name check for this host.
    std::string PinnedSha256;
};

class TlsChannel {
public:
    // Raises ESecurityDLLError when Secure Channel is missing, ETlsError when it refuses the
    // credentials or the pin is not a fingerprint.
    explicit TlsChannel(TlsPeer peer);
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Appends the ClientHello to out.
    void Start(std::string& out);
    // Takes the handshake records it used off the front of in (a partial record stays) and
    // appends what must be sent to out. True once the handshake is complete and the server's
    // certificate passed the check; what is left in in then is application data for Decrypt.
    // Raises ETlsError or ECertificateError; whatever out holds then should still be sent.
    bool Continue(std::string& in, std::string& out);
    bool Established() const { return established_; }

    // Appends the records that carry plain, each no longer than the session allows.
    void Encrypt(std::string_view plain, std::string& out);
    // Takes every whole record off the front of in, appends their plaintext to plain and to out
    // what must go back to the server (a renegotiation). False once the server has closed the
    // session (close_notify); records after that stay unread.
    bool Decrypt(std::string& in, std::string& plain, std::string& out);
    // Appends a close_notify to out, if it can; never raises.
    void Shutdown(std::string& out) noexcept;

    // No certificate chain a mail server sends comes near this.
    static constexpr size_t kMaxHandshake = 256 * 1024;

private:
    // One call of InitializeSecurityContext; its token goes to out.
    SECURITY_STATUS Round(SecBufferDesc* input, std::string& out);
    // Handshake rounds on what in holds; true when the handshake is complete.
    bool Handshake(std::string& in, std::string& out);
    void CheckPeer();
    void CheckChain(PCCERT_CONTEXT cert);

    TlsPeer peer_;
    std::string pin_;
    // The name for SNI and for the context; empty for a dotted address.
    std::string targetName_;
    UniqueCredentials credentials_;
    UniqueSecurityContext context_;
    SecPkgContext_StreamSizes sizes_{};
    size_t handshakeBytes_ = 0;
    bool established_ = false;
    // Set by a renegotiation: handshake rounds until it is complete, the first even without
    // new bytes.
    bool renegotiating_ = false;
    bool kick_ = false;
    bool closed_ = false;
};

} // namespace pw
