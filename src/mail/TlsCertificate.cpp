// Server certificate check; see TlsCertificate.h.
#include "TlsCertificate.h"

#include <array>
#include <cstring>

#include "core/Errors.h"
#include "core/TlsStatus.h"

namespace pw {

namespace {

// SSL_EXTRA_CERT_CHAIN_POLICY_PARA.fdwChecks: leave the name to us (wininet's value), and
// revocation too: a revoked certificate is refused below, an unknown status is not.
constexpr DWORD kIgnoreNameCheck = 0x00001000;
constexpr DWORD kIgnoreRevocation = 0x00000080;
// Revocation from what the cache holds: no download on the window thread.
constexpr DWORD kChainFlags =
    CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_CHECK_CACHE_ONLY;

// The hash's name as the CNG providers know it.
constexpr wchar_t kSha256Algorithm[] = L"SHA256";

std::string Sha256Of(const BYTE* data, DWORD size) {
    std::array<BYTE, 32> hash{};
    DWORD hashSize = hash.size();
    if (!SharedSspi().CryptHashCertificate2(kSha256Algorithm, 0, nullptr, data, size, hash.data(),
                                            &hashSize) ||
        hashSize != hash.size())
        return {};
    return HexOf(hash.data(), hash.size());
}

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
    std::wstring wide(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

void CheckChain(PCCERT_CONTEXT cert, const std::string& host) {
    TagSspi& crypt = SharedSspi();
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // A missing intermediate may still be fetched, within a few seconds.
    chainPara.dwUrlRetrievalTimeout = kChainUrlRetrievalTimeoutMs;
    PCCERT_CHAIN_CONTEXT raw = nullptr;
    // The server's intermediates come in the certificate's own store.
    if (!crypt.CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &chainPara,
                                       kChainFlags, nullptr, &raw) ||
        raw == nullptr)
        throw ECertificateError(CertificateNotTrustedText());
    const UniqueCertChain chain(raw);
    if (chain.get()->TrustStatus.dwErrorStatus & CERT_TRUST_IS_REVOKED)
        RaiseCertificatePolicyFailure(kCertRevoked, host);

    std::wstring serverName = Widened(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    // An address is matched here, the same on every Windows: not every certificate policy
    // compares it with the certificate's iPAddress names.
    const std::optional<std::array<uint8_t, 4>> address = DottedAddressBytes(host);
    ssl.fdwChecks = (address ? kIgnoreNameCheck : 0) | kIgnoreRevocation;
    ssl.pwszServerName = serverName.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!crypt.CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy,
                                                &status))
        throw ECertificateError(CertificateNotTrustedText());
    if (status.dwError != 0)
        RaiseCertificatePolicyFailure(status.dwError, host);
    if (address && !NamesAddress(crypt, cert, *address))
        RaiseCertificatePolicyFailure(kCertNameMismatch, host);
}

} // namespace

std::string CertificateSha256(PCCERT_CONTEXT cert) {
    return Sha256Of(cert->pbCertEncoded, cert->cbCertEncoded);
}

std::string PublicKeySha256(PCCERT_CONTEXT cert) {
    BYTE* encoded = nullptr;
    DWORD size = 0;
    if (!SharedSspi().CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                                          &cert->pCertInfo->SubjectPublicKeyInfo,
                                          CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded, &size) ||
        encoded == nullptr)
        return {};
    std::string hash = Sha256Of(encoded, size);
    LocalFree(encoded);
    return hash;
}

int CertificateDaysLeft(PCCERT_CONTEXT cert, const FILETIME& now) {
    const auto ticks = [](const FILETIME& time) {
        return int64_t(uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime);
    };
    constexpr int64_t kTicksPerDay = 864000000000; // 100 ns ticks
    return int((ticks(cert->pCertInfo->NotAfter) - ticks(now)) / kTicksPerDay);
}

void CheckServerCertificate(PCCERT_CONTEXT cert, const std::string& host,
                            const std::vector<CertificatePin>& pins) {
    if (pins.empty()) {
        CheckChain(cert, host);
        return;
    }
    if (!PinsMatch(pins, CertificateSha256(cert), PublicKeySha256(cert)))
        throw ECertificateError(CertificatePinMismatchText());
}

} // namespace pw
