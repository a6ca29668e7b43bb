// TLS over Secure Channel; see TlsChannel.h. Secure Channel is asked to leave the certificate
// alone (manual validation) so that one check of our own decides, the same on every Windows.
#include "TlsChannel.h"

#include <algorithm>
#include <cstring>

#include "core/Errors.h"
#include "core/Sha256.h"
#include "core/TlsStatus.h"
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

// SSL_EXTRA_CERT_CHAIN_POLICY_PARA.fdwChecks: leave the name to us (wininet's value).
constexpr DWORD kIgnoreNameCheck = 0x00001000;

// True when the certificate names the address in an iPAddress entry of its alternative names.
bool NamesAddress(TagSspi& crypt, PCCERT_CONTEXT cert, const std::array<uint8_t, 4>& address) {
    const CERT_EXTENSION* extension = crypt.CertFindExtension(
        szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
    if (extension == nullptr)
        return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!crypt.CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                                   extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                                   &names, &size) ||
        names == nullptr)
        return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                entry.IPAddress.cbData == address.size() &&
                std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
    }
    LocalFree(names);
    return found;
}

std::wstring Widened(const std::string& text) {
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

// What Secure Channel left unread of an input: the size of the SECBUFFER_EXTRA buffer, never
// more than the input.
size_t ExtraOf(const SecBuffer* buffers, size_t count, size_t inputSize) {
    for (size_t i = 0; i < count; ++i)
        if (buffers[i].BufferType == SECBUFFER_EXTRA)
            return std::min<size_t>(buffers[i].cbBuffer, inputSize);
    return 0;
}

} // namespace

TlsChannel::TlsChannel(TlsPeer peer) : peer_(std::move(peer)) {
    if (!peer_.PinnedSha256.empty()) {
        pin_ = NormalisePin(peer_.PinnedSha256);
        if (pin_.empty())
            throw ETlsError("the pinned fingerprint is not a SHA-256 of 64 hex digits");
    }
    // No SNI for an address: TLS carries names only.
    if (!DottedAddressBytes(peer_.HostName))
        targetName_ = peer_.HostName;

    SCHANNEL_CRED settings{};
    settings.dwVersion = SCHANNEL_CRED_VERSION;
    // No protocol list: the system's defaults follow what the system supports and allows.
    settings.grbitEnabledProtocols = 0;
    settings.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    TimeStamp expiry{};
    const SECURITY_STATUS status = SharedSspi().Sspi().AcquireCredentialsHandleA(
        nullptr, const_cast<SEC_CHAR*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &settings,
        nullptr, nullptr, credentials_.Fill(), &expiry);
    if (status != SEC_E_OK)
        RaiseTlsFailure("TLS set-up", uint32_t(status), peer_.HostName);
    credentials_.Hold();
}

TlsChannel::~TlsChannel() = default;

SECURITY_STATUS TlsChannel::Round(SecBufferDesc* input, std::string& out) {
    OutputToken token;
    SecBufferDesc output{SECBUFFER_VERSION, 1, &token.buffer};
    ULONG attributes = 0;
    TimeStamp expiry{};
    const bool first = !context_;
    const SECURITY_STATUS status = SharedSspi().Sspi().InitializeSecurityContextA(
        credentials_.get(), context_.get(),
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
    CheckPeer();
    established_ = true;
    return true;
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
        SecBuffer input[2] = {{ULONG(in.size()), SECBUFFER_TOKEN, in.data()},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
        const SECURITY_STATUS status = Round(in.empty() ? nullptr : &inputDesc, out);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            return false; // the rest of a message split over records has not come yet
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && retries-- > 0)
            continue;
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
            RaiseTlsFailure("TLS handshake", uint32_t(status), peer_.HostName);
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
    if (sspi.QueryContextAttributesA(context_.get(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &raw) !=
            SEC_E_OK ||
        raw == nullptr)
        throw ECertificateError(CertificateNotTrustedText());
    const UniqueCertContext cert(raw);
    if (sspi.QueryContextAttributesA(context_.get(), SECPKG_ATTR_STREAM_SIZES, &sizes_) !=
            SEC_E_OK ||
        sizes_.cbMaximumMessage == 0)
        throw ETlsError("TLS stream sizes unknown");
    if (!pin_.empty()) {
        if (Sha256Hex(raw->pbCertEncoded, raw->cbCertEncoded) != pin_)
            throw ECertificateError(CertificatePinMismatchText());
        return;
    }
    CheckChain(raw);
}

void TlsChannel::CheckChain(PCCERT_CONTEXT cert) {
    TagSspi& crypt = SharedSspi();
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT raw = nullptr;
    // The server's intermediates come in the certificate's own store.
    if (!crypt.CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &chainPara, 0,
                                       nullptr, &raw) ||
        raw == nullptr)
        throw ECertificateError(CertificateNotTrustedText());
    const UniqueCertChain chain(raw);

    std::wstring serverName = Widened(peer_.HostName);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    // An address is matched here, the same on every Windows: not every certificate policy
    // compares it with the certificate's iPAddress names.
    const std::optional<std::array<uint8_t, 4>> address = DottedAddressBytes(peer_.HostName);
    ssl.fdwChecks = address ? kIgnoreNameCheck : 0;
    ssl.pwszServerName = serverName.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!crypt.CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy,
                                                &status))
        throw ECertificateError(CertificateNotTrustedText());
    if (status.dwError != 0)
        RaiseCertificatePolicyFailure(status.dwError, peer_.HostName);
    if (address && !NamesAddress(crypt, cert, *address))
        RaiseCertificatePolicyFailure(kCertNameMismatch, peer_.HostName);
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
            // The server may show another certificate this time.
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
        for (const SecBuffer& buffer : buffers) {
            const auto* data = static_cast<const char*>(buffer.pvBuffer);
            // Only plaintext that lies within the record is taken.
            if (buffer.BufferType == SECBUFFER_DATA && data != nullptr && data >= in.data() &&
                buffer.cbBuffer <= size_t(in.data() + length - data))
                plain.append(data, buffer.cbBuffer);
        }
        // Plaintext first: it was decrypted in place, inside the bytes erased here.
        in.erase(0, length - ExtraOf(buffers, 4, length));
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
