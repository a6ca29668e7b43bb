// Pinned certificates as a user writes them in the settings file, and the one comparison that
// decides whether a server's certificate is a pinned one. A pin is the SHA-256 of the whole
// certificate (it changes with every renewal) or, written "spki:<hex>", of its public key
// (SubjectPublicKeyInfo), which a renewal with the same key keeps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pw {

enum class PinKind { Certificate, PublicKey };

struct CertificatePin {
    PinKind Kind = PinKind::Certificate;
    std::string Sha256; // 64 lowercase hex digits
    friend bool operator==(const CertificatePin& a, const CertificatePin& b) {
        return a.Kind == b.Kind && a.Sha256 == b.Sha256;
    }
};

// A fingerprint as written by a user: 64 hex digits in any case, with colons or blanks
// anywhere between them. Gives the 64 lowercase digits, or an empty text when it is not one.
std::string NormalisePin(std::string_view text);

// One or more pins separated by commas, each a fingerprint or "spki:" and a fingerprint.
// Nothing when any of them is not one (or there is none).
std::optional<std::vector<CertificatePin>> ParsePins(std::string_view text);
// The pins as ParsePins reads them back: "spki:<hex>,<hex>".
std::string PinsText(const std::vector<CertificatePin>& pins);

// True when a pin names the certificate (by the SHA-256 of its encoding) or its public key (by
// the SHA-256 of its SubjectPublicKeyInfo); both hashes as 64 lowercase hex digits.
bool PinsMatch(const std::vector<CertificatePin>& pins, std::string_view certificateSha256,
               std::string_view publicKeySha256);

// Bytes as lowercase hex digits.
std::string HexOf(const uint8_t* data, size_t size);

} // namespace pw
