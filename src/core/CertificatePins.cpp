// Certificate pins; see CertificatePins.h.
#include "CertificatePins.h"

#include "Text.h"

namespace pw {

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr size_t kSha256HexSize = 64;
constexpr std::string_view kPublicKeyPrefix = "spki:";

} // namespace

std::string NormalisePin(std::string_view text) {
    std::string hex;
    for (char c : text) {
        if (c == ':' || c == ' ' || c == '\t')
            continue;
        const int value = HexDigitValue(c);
        if (value < 0 || hex.size() == kSha256HexSize)
            return {};
        hex += kHexDigits[value];
    }
    return hex.size() == kSha256HexSize ? hex : std::string();
}

std::optional<std::vector<CertificatePin>> ParsePins(std::string_view text) {
    std::vector<CertificatePin> pins;
    for (;;) {
        const size_t comma = text.find(',');
        std::string_view one = TrimView(text.substr(0, comma));
        CertificatePin pin;
        if (one.size() >= kPublicKeyPrefix.size() &&
            SameTextAscii(one.substr(0, kPublicKeyPrefix.size()), kPublicKeyPrefix)) {
            pin.Kind = PinKind::PublicKey;
            one.remove_prefix(kPublicKeyPrefix.size());
        }
        pin.Sha256 = NormalisePin(one);
        if (pin.Sha256.empty())
            return std::nullopt;
        pins.push_back(std::move(pin));
        if (comma == std::string_view::npos)
            return pins;
        text.remove_prefix(comma + 1);
    }
}

std::string PinsText(const std::vector<CertificatePin>& pins) {
    std::string text;
    for (const CertificatePin& pin : pins) {
        if (!text.empty())
            text += ',';
        if (pin.Kind == PinKind::PublicKey)
            text += kPublicKeyPrefix;
        text += pin.Sha256;
    }
    return text;
}

bool PinsMatch(const std::vector<CertificatePin>& pins, std::string_view certificateSha256,
               std::string_view publicKeySha256) {
    for (const CertificatePin& pin : pins) {
        const std::string_view actual =
            pin.Kind == PinKind::PublicKey ? publicKeySha256 : certificateSha256;
        // A hash that could not be taken is empty and matches nothing.
        if (actual.size() == kSha256HexSize && pin.Sha256 == actual)
            return true;
    }
    return false;
}

std::string HexOf(const uint8_t* data, size_t size) {
    std::string hex;
    hex.reserve(2 * size);
    for (size_t i = 0; i < size; ++i) {
        hex += kHexDigits[data[i] >> 4];
        hex += kHexDigits[data[i] & 0x0f];
    }
    return hex;
}

} // namespace pw
