// TLS record framing; see TlsRecord.h.
#include "TlsRecord.h"

#include "Errors.h"

namespace pw {

namespace {

uint16_t Uint16At(std::string_view bytes, size_t at) {
    return uint16_t(static_cast<unsigned char>(bytes[at]) << 8 |
                    static_cast<unsigned char>(bytes[at + 1]));
}

constexpr unsigned char kServerHello = 2;
// Handshake header (type, 24-bit length), then the ServerHello's version.
constexpr size_t kHelloVersionAt = kTlsRecordHeader + 4;

} // namespace

size_t FirstTlsRecordLength(std::string_view bytes) {
    if (bytes.empty())
        return 0;
    const auto type = static_cast<unsigned char>(bytes[0]);
    if (type < kTlsRecordChangeCipherSpec || type > kTlsRecordHeartbeat ||
        (bytes.size() > 1 && bytes[1] != 3))
        throw ETlsError("the server sent no TLS record");
    if (bytes.size() < kTlsRecordHeader)
        return 0;
    const size_t length = kTlsRecordHeader + Uint16At(bytes, 3);
    if (length > kMaxTlsRecord)
        throw ETlsError("the server sent a TLS record that is too long");
    return bytes.size() >= length ? length : 0;
}

size_t WholeTlsRecordsLength(std::string_view bytes) {
    size_t whole = 0;
    while (const size_t length = FirstTlsRecordLength(bytes.substr(whole)))
        whole += length;
    return whole;
}

std::optional<uint16_t> ServerOfferedVersion(std::string_view bytes) {
    if (bytes.size() < kTlsRecordHeader)
        return std::nullopt;
    const auto type = static_cast<unsigned char>(bytes[0]);
    if (type == kTlsRecordAlert)
        return Uint16At(bytes, 1);
    if (type != kTlsRecordHandshake || bytes.size() < kHelloVersionAt + 2 ||
        static_cast<unsigned char>(bytes[kTlsRecordHeader]) != kServerHello)
        return std::nullopt;
    // A TLS 1.3 ServerHello says 1.2 here and the truth in an extension: 1.2 or above either way.
    return Uint16At(bytes, kHelloVersionAt);
}

std::string TlsVersionName(uint16_t version) {
    switch (version) {
    case kSsl30:
        return "SSL 3.0";
    case kTls10:
        return "TLS 1.0";
    case kTls11:
        return "TLS 1.1";
    case kTls12:
        return "TLS 1.2";
    case kTls13:
        return "TLS 1.3";
    default:
        break;
    }
    static const char digits[] = "0123456789abcdef";
    std::string text = "version 0x";
    for (int shift = 12; shift >= 0; shift -= 4)
        text += digits[(version >> shift) & 0xf];
    return text;
}

uint16_t TlsVersionOfProtocol(uint32_t protocol) {
    // Client and server bit of each version (SP_PROT_*).
    const struct {
        uint32_t bits;
        uint16_t version;
    } known[] = {
        {0x3000, kTls13}, {0x0C00, kTls12}, {0x0300, kTls11}, {0x00C0, kTls10}, {0x0030, kSsl30}};
    for (const auto& entry : known)
        if (protocol & entry.bits)
            return entry.version;
    return 0;
}

std::string OldTlsVersionText(uint16_t version) {
    return "the server offers only " + TlsVersionName(version);
}

} // namespace pw
