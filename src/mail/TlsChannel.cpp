// TLS over Secure Channel; see TlsChannel.h. Secure Channel is asked to leave the certificate
// alone (manual validation) so that one check of our own decides, the same on every Windows.
#include "TlsChannel.h"

#include <algorithm>
#include <cstring>

#include "core/Errors.h"
#include "core/TlsRecord.h"
#include "core/TlsStatus.h"
#include "mail/TlsCertificate.h"
#include "win/Trace.h"

namespace pw {

namespace {

constexpr ULONG kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                                ISC_REQ_MANUAL_CRED_VALIDATION;

// An output token that Secure Channel allocated; freed with the scope.
struct OutputToken {
    OutputToken() = default;
    OutputToken(const OutputToken&) = delete;
    OutputToken& operator=(const OutputToken&) = delete;
    ~OutputToken() {
        if (buffer.pvBuffer != nullptr)
            SharedSspi().Sspi().FreeContextBuffer(buffer.pvBuffer);
    }
    void AppendTo(std::string& out) const {
        if (buffer.pvBuffer != nullptr && buffer.cbBuffer > 0)
            out.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
    }
    SecBuffer buffer{0, SECBUFFER_TOKEN, nullptr};
};

// What Secure Channel left unread of an input: the size of the SECBUFFER_EXTRA buffer, never
// more than the input.
size_t ExtraOf(const SecBuffer* buffers, size_t count, size_t inputSize) {
    for (size_t i = 0; i < count; ++i)
        if (buffers[i].BufferType == SECBUFFER_EXTRA)
            return std::min<size_t>(buffers[i].cbBuffer, inputSize);
    return 0;
}

// Below TLS 1.2 nothing is offered, whatever the system's defaults; strong ciphers only.
constexpr DWORD kOldProtocols =
    SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
constexpr DWORD kCredentialFlags =
    SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;

SECURITY_STATUS Acquire(void* settings, CredHandle* handle) {
    TimeStamp expiry{};
    return SharedSspi().Sspi().AcquireCredentialsHandleA(
        nullptr, const_cast<SEC_CHAR*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, settings,
        nullptr, nullptr, handle, &expiry);
}

// The process's one credentials handle: Secure Channel resumes sessions only within one.
CredHandle* SharedCredentials() {
    TagSspi& sspi = SharedSspi(); // first, so that it outlives the handle below
    static UniqueCredentials credentials;
    static unsigned generation = 0;
    if (credentials && generation == sspi.TableGeneration())
        return credentials.get();
    credentials.reset();
    generation = sspi.TableGeneration();
    // SCH_CREDENTIALS is the only form in which Windows 11 and Server 2022 offer TLS 1.3.
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = kOldProtocols;
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = kCredentialFlags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    SECURITY_STATUS status = Acquire(&modern, credentials.Fill());
    const bool classicUsed = status != SEC_E_OK;
    if (classicUsed) {
        // Older Windows (and Wine) know only SCHANNEL_CRED. TLS 1.2 is asked for by name:
        // Windows 7 leaves it off by default.
        SCHANNEL_CRED classic{};
        classic.dwVersion = SCHANNEL_CRED_VERSION;
        classic.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        classic.dwFlags = kCredentialFlags;
        status = Acquire(&classic, credentials.Fill());
    }
    if (status != SEC_E_OK)
        RaiseTlsFailure("TLS set-up", uint32_t(status), {});
    Trace(std::string("TLS credentials acquired as ") +
          (classicUsed ? "SCHANNEL_CRED" : "SCH_CREDENTIALS"));
    credentials.Hold();
    return credentials.get();
}

} // namespace

TlsChannel::TlsChannel(TlsPeer peer) : peer_(std::move(peer)) {
    if (!peer_.PinnedSha256.empty()) {
        std::optional<std::vector<CertificatePin>> pins = ParsePins(peer_.PinnedSha256);
        if (!pins)
            throw ETlsError("the pinned fingerprint is not a SHA-256 of 64 hex digits");
        pins_ = std::move(*pins);
    }
    // No SNI for an address: TLS carries names only.
    if (!DottedAddressBytes(peer_.HostName))
        targetName_ = peer_.HostName;
    credentials_ = SharedCredentials();
}

TlsChannel::~TlsChannel() = default;

SECURITY_STATUS TlsChannel::Round(SecBufferDesc* input, std::string& out) {
    OutputToken token;
    SecBufferDesc output{SECBUFFER_VERSION, 1, &token.buffer};
    ULONG attributes = 0;
    TimeStamp expiry{};
    const bool first = !context_;
    const SECURITY_STATUS status = SharedSspi().Sspi().InitializeSecurityContextA(
        credentials_, context_.get(),
        targetName_.empty() ? nullptr : const_cast<SEC_CHAR*>(targetName_.c_str()), kContextFlags,
        0, 0, input, 0, context_.Fill(), &output, &attributes, &expiry);
    if (first && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED))
        context_.Hold();
    // Also on failure: with ISC_REQ_EXTENDED_ERROR the token is the alert for the server.
    token.AppendTo(out);
    return status;
}

void TlsChannel::Start(std::string& out) {
    const SECURITY_STATUS status = Round(nullptr, out);
    if (status != SEC_I_CONTINUE_NEEDED)
        RaiseTlsFailure("TLS handshake", uint32_t(status), peer_.HostName);
}

bool TlsChannel::Continue(std::string& in, std::string& out) {
    if (established_)
        return true;
    if (!Handshake(in, out))
        return false;
    CheckVersion();
    CheckPeer();
    established_ = true;
    return true;
}

void TlsChannel::RaiseHandshakeFailure(SECURITY_STATUS status) {
    // A server that answered with an old version is refused in words the user can act on.
    if (offered_ && *offered_ < kTls12)
        throw ETlsVersionError(OldTlsVersionText(*offered_));
    RaiseTlsFailure("TLS handshake", uint32_t(status), peer_.HostName);
}

void TlsChannel::CheckVersion() {
    SecPkgContext_ConnectionInfo info{};
    if (SharedSspi().Sspi().QueryContextAttributesA(context_.get(), SECPKG_ATTR_CONNECTION_INFO,
                                                    &info) != SEC_E_OK)
        throw ETlsError("the TLS version of the session is unknown");
    const uint16_t version = TlsVersionOfProtocol(info.dwProtocol);
    if (version < kTls12)
        throw ETlsVersionError(OldTlsVersionText(version != 0 ? version : offered_.value_or(0)));
}

bool TlsChannel::Handshake(std::string& in, std::string& out) {
    // A server that asks for a client certificate gets the round again without one; twice is
    // all it can take.
    int retries = 2;
    for (;;) {
        // Secure Channel is handed nothing before a whole record is there: it keeps no bytes of
        // its own, and the header is checked before any of the record is read.
        if (FirstTlsRecordLength(in) == 0 && !kick_)
            return false;
        kick_ = false;
        if (!offered_)
            offered_ = ServerOfferedVersion(in);
        SecBuffer input[2] = {{ULONG(in.size()), SECBUFFER_TOKEN, in.data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
        const SECURITY_STATUS status = Round(in.empty() ? nullptr : &inputDesc, out);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            return false; // the rest of a message split over records has not come yet
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && retries-- > 0)
            continue;
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
            RaiseHandshakeFailure(status);
        const size_t used = in.size() - ExtraOf(input, 2, in.size());
        in.erase(0, used);
        handshakeBytes_ += used;
        if (handshakeBytes_ > kMaxHandshake)
            throw ETlsError("the server's TLS handshake is too long");
        if (status == SEC_E_OK)
            return true;
        if (used == 0)
            return false;
    }
}

void TlsChannel::CheckPeer() {
    const SecurityFunctionTableA& sspi = SharedSspi().Sspi();
    PCCERT_CONTEXT raw = nullptr;
    const SECURITY_STATUS status =
        sspi.QueryContextAttributesA(context_.get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &raw);
    // Secure Channel that cannot hand the certificate over has failed, which says nothing of the
    // certificate; a server that sent none is not trusted.
    if (status != SEC_E_OK)
        RaiseTlsFailure("TLS handshake", uint32_t(status), peer_.HostName);
    if (raw == nullptr)
        throw ECertificateError(CertificateNotTrustedText());
    const UniqueCertContext cert(raw);
    if (sspi.QueryContextAttributesA(context_.get(), SECPKG_ATTR_STREAM_SIZES, &sizes_) !=
            SEC_E_OK ||
        sizes_.cbMaximumMessage == 0)
        throw ETlsError("TLS stream sizes unknown");
    std::string encoded(reinterpret_cast<const char*>(raw->pbCertEncoded), raw->cbCertEncoded);
    if (!acceptedCertificate_.empty() && encoded == acceptedCertificate_)
        return;
    CheckServerCertificate(raw, peer_.HostName, pins_);
    if (!pins_.empty()) {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        pinnedDaysLeft_ = CertificateDaysLeft(raw, now);
    }
    acceptedCertificate_ = std::move(encoded);
}

void TlsChannel::Encrypt(std::string_view plain, std::string& out) {
    if (!established_)
        throw ETlsError("the TLS session is not established");
    const SecurityFunctionTableA& sspi = SharedSspi().Sspi();
    std::string record;
    while (!plain.empty()) {
        const size_t size = std::min<size_t>(plain.size(), sizes_.cbMaximumMessage);
        record.assign(sizes_.cbHeader + size + sizes_.cbTrailer, '\0');
        std::memcpy(record.data() + sizes_.cbHeader, plain.data(), size);
        SecBuffer buffers[4] = {
            {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
            {ULONG(size), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + size},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = sspi.EncryptMessage(context_.get(), 0, &desc, 0);
        if (status != SEC_E_OK)
            RaiseTlsFailure("TLS encryption", uint32_t(status), peer_.HostName);
        // The trailer may come out shorter than its room; header and data keep their sizes.
        const size_t used = size_t(buffers[0].cbBuffer) + buffers[1].cbBuffer + buffers[2].cbBuffer;
        out.append(record.data(), std::min(used, record.size()));
        plain.remove_prefix(size);
    }
}

bool TlsChannel::Decrypt(std::string& in, std::string& plain, std::string& out) {
    if (closed_)
        return false;
    if (!established_)
        throw ETlsError("the TLS session is not established");
    const SecurityFunctionTableA& sspi = SharedSspi().Sspi();
    for (;;) {
        if (renegotiating_) {
            if (!Handshake(in, out))
                return true;
            renegotiating_ = false;
            // The server may show another certificate this time; the same one (a TLS 1.3
            // ticket comes this way) is not checked again.
            CheckPeer();
        }
        // One whole record at a time: Secure Channel decrypts it in place, in in.
        const size_t length = FirstTlsRecordLength(in);
        if (length == 0)
            return true;
        SecBuffer buffers[4] = {{ULONG(length), SECBUFFER_DATA, in.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = sspi.DecryptMessage(context_.get(), &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            return true;
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
            RaiseTlsFailure("TLS decryption", uint32_t(status), peer_.HostName);
        const bool alert = static_cast<unsigned char>(in[0]) == kTlsRecordAlert;
        const char* const begin = in.data();
        const char* const end = begin + length;
        for (const SecBuffer& buffer : buffers) {
            const auto* data = static_cast<const char*>(buffer.pvBuffer);
            // Only plaintext that lies within the record is taken.
            if (buffer.BufferType == SECBUFFER_DATA && data != nullptr && data >= begin &&
                data <= end && buffer.cbBuffer <= size_t(end - data))
                plain.append(data, buffer.cbBuffer);
        }
        // Every pass takes a record: a decryption that used none of it would loop for good. A
        // renegotiation leaves it for the handshake instead.
        const size_t extra = ExtraOf(buffers, 4, length);
        if (extra == length && status != SEC_I_RENEGOTIATE)
            throw ETlsError("TLS decryption used none of a record");
        // Plaintext first: it was decrypted in place, inside the bytes erased here.
        in.erase(0, length - extra);
        // Windows reports the server's close_notify as SEC_I_CONTEXT_EXPIRED. Wine's Secure
        // Channel takes it as an empty record instead; an alert after the handshake is the end
        // of the session either way (a fatal one ends it too), so it is taken as such.
        if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && alert)) {
            closed_ = true;
            return false;
        }
        if (status == SEC_I_RENEGOTIATE) {
            // The handshake goes on with what follows, even if nothing does yet.
            renegotiating_ = true;
            kick_ = true;
            handshakeBytes_ = 0;
        }
    }
}

void TlsChannel::Shutdown(std::string& out) noexcept {
    if (!context_)
        return;
    try {
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer buffer{sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc desc{SECBUFFER_VERSION, 1, &buffer};
        if (SharedSspi().Sspi().ApplyControlToken(context_.get(), &desc) == SEC_E_OK)
            Round(nullptr, out);
    } catch (...) {
        // Best effort: the connection is being closed anyway.
        TraceCaughtCurrent("TLS shutdown");
    }
    established_ = false;
}

} // namespace pw
