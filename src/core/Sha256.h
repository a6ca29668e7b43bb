// SHA-256 (FIPS 180-2) for certificate fingerprints, and the rules for a pinned fingerprint
// as a user writes it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pw {

using Sha256Digest = std::array<uint8_t, 32>;

// Incremental hash: Update as often as needed, then Finish once.
class Sha256 {
public:
    Sha256();
    void Update(const void* data, size_t size);
    Sha256Digest Finish();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> state_;
    std::array<uint8_t, 64> buffer_{};
    size_t buffered_ = 0;
    uint64_t length_ = 0;
};

Sha256Digest Sha256Of(const void* data, size_t size);

// The digest as 64 lowercase hex digits.
std::string Sha256Hex(const void* data, size_t size);

// A fingerprint as written by a user: 64 hex digits in any case, with colons or blanks
// anywhere between them. Gives the 64 lowercase digits, or an empty text when it is not one.
std::string NormalisePin(std::string_view text);

} // namespace pw
