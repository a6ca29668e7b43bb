// A TLS client session over Secure Channel that does no I/O of its own: the socket feeds it
// the bytes it received and sends the bytes it hands back, so nothing here blocks or waits.
// TLS 1.2 is the least it accepts; TLS 1.3 where Windows offers it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/CertificatePins.h"
#include "mail/agsspi.h"

namespace pw {

struct TlsPeer {
    // The host as connected: a name, or the dotted address actually connected to.
    std::string HostName;
    // Empty, or pins as the settings file writes them ("spki:<hex>,<hex>", colons and blanks
    // allowed, any case); when set they replace the chain and name check for this host.
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
    // appends what must be sent to out. True once the handshake is complete, the session is
    // TLS 1.2 or newer and the server's certificate passed the check; what is left in in then
    // is application data for Decrypt. Raises ETlsError, ETlsVersionError or ECertificateError;
    // whatever out holds then (an alert) should still be sent.
    bool Continue(std::string& in, std::string& out);
    bool Established() const { return established_; }

    // Appends the records that carry plain, each no longer than the session allows.
    void Encrypt(std::string_view plain, std::string& out);
    // Takes every whole record off the front of in, appends their plaintext to plain and to out
    // what must go back to the server at once (a renegotiation, a TLS 1.3 post-handshake
    // message). False once the server has closed the session (close_notify); records after that
    // stay unread.
    bool Decrypt(std::string& in, std::string& plain, std::string& out);
    // Appends a close_notify to out, if it can; never raises.
    void Shutdown(std::string& out) noexcept;

    // With pins: whole days until the pinned certificate's end, once it was accepted.
    std::optional<int> PinnedDaysLeft() const { return pinnedDaysLeft_; }

    // No certificate chain a mail server sends comes near this.
    static constexpr size_t kMaxHandshake = 256 * 1024;

private:
    // One call of InitializeSecurityContext; its token goes to out.
    SECURITY_STATUS Round(SecBufferDesc* input, std::string& out);
    // Handshake rounds on what in holds; true when the handshake is complete.
    bool Handshake(std::string& in, std::string& out);
    [[noreturn]] void RaiseHandshakeFailure(SECURITY_STATUS status);
    void CheckVersion();
    void CheckPeer();

    TlsPeer peer_;
    std::vector<CertificatePin> pins_;
    // The name for SNI and for the context; empty for a dotted address.
    std::string targetName_;
    CredHandle* credentials_ = nullptr;
    UniqueSecurityContext context_;
    SecPkgContext_StreamSizes sizes_{};
    size_t handshakeBytes_ = 0;
    // The version in the server's hello, to name it when the handshake fails.
    std::optional<uint16_t> offered_;
    // The certificate accepted last: a renegotiation or a TLS 1.3 ticket that shows it again
    // needs no second check.
    std::string acceptedCertificate_;
    std::optional<int> pinnedDaysLeft_;
    bool established_ = false;
    // Set by a renegotiation: handshake rounds until it is complete, the first even without
    // new bytes.
    bool renegotiating_ = false;
    bool kick_ = false;
    bool closed_ = false;
};

} // namespace pw
