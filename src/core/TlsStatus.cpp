// The TLS failure texts; see TlsStatus.h.
#include "TlsStatus.h"

#include "Errors.h"

namespace pw {

std::string CertificateNotTrustedText() {
    return "the server's certificate is not trusted";
}

std::string CertificateNameMismatchText(std::string_view host) {
    return "the server's certificate does not match the name " + std::string(host);
}

std::string CertificateExpiredText() {
    return "the server's certificate has expired";
}

std::string CertificatePinMismatchText() {
    return "the server's certificate does not match the pinned fingerprint";
}

std::string CertificatePolicyText(uint32_t status, std::string_view host) {
    switch (status) {
    case kCertExpired:
    case kSecCertExpired:
        return CertificateExpiredText();
    case kCertNameMismatch:
    case kSecWrongPrincipal:
        return CertificateNameMismatchText(host);
    default:
        return CertificateNotTrustedText();
    }
}

void RaiseCertificatePolicyFailure(uint32_t status, std::string_view host) {
    throw ECertificateError(CertificatePolicyText(status, host));
}

void RaiseTlsFailure(std::string_view step, uint32_t status, std::string_view host) {
    switch (status) {
    case kSecWrongPrincipal:
    case kSecCertUnknown:
    case kSecCertExpired:
    case kSecUntrustedRoot:
        RaiseCertificatePolicyFailure(status, host);
    default:
        throw ETlsError(std::string(step) + " failed (" + StatusHex(status) + ")");
    }
}

size_t FirstTlsRecordLength(std::string_view bytes) {
    if (bytes.empty())
        return 0;
    const auto type = static_cast<unsigned char>(bytes[0]);
    if (type < kTlsRecordChangeCipherSpec || type > kTlsRecordHeartbeat ||
        (bytes.size() > 1 && bytes[1] != 3))
        throw ETlsError("the server sent no TLS record");
    if (bytes.size() < 5)
        return 0;
    const size_t length = 5 + (size_t(static_cast<unsigned char>(bytes[3])) << 8) +
                          static_cast<unsigned char>(bytes[4]);
    if (length > kMaxTlsRecord)
        throw ETlsError("the server sent a TLS record that is too long");
    return bytes.size() >= length ? length : 0;
}

std::optional<std::array<uint8_t, 4>> DottedAddressBytes(std::string_view host) {
    std::array<uint8_t, 4> bytes{};
    size_t part = 0;
    size_t digits = 0;
    unsigned value = 0;
    for (size_t i = 0; i <= host.size(); ++i) {
        if (i == host.size() || host[i] == '.') {
            if (digits == 0 || part == bytes.size())
                return std::nullopt;
            bytes[part++] = uint8_t(value);
            digits = 0;
            value = 0;
        } else if (host[i] >= '0' && host[i] <= '9' && digits < 3) {
            value = value * 10 + unsigned(host[i] - '0');
            if (value > 255)
                return std::nullopt;
            ++digits;
        } else {
            return std::nullopt;
        }
    }
    if (part != bytes.size())
        return std::nullopt;
    return bytes;
}

std::string StatusHex(uint32_t status) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += digits[(status >> shift) & 0xf];
    return text;
}

} // namespace pw
