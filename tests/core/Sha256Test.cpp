// SHA-256 against the FIPS 180-2 vectors, and the pinned-fingerprint rules.
#include "core/Sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace pw {
namespace {

std::string HexOf(const std::string& text) {
    return Sha256Hex(text.data(), text.size());
}

TEST(Sha256, MatchesTheStandardVectors) {
    EXPECT_EQ(HexOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(HexOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    // Two blocks: the length no longer fits behind the padding of the first.
    EXPECT_EQ(HexOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(HexOf(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, PiecesHashLikeTheWhole) {
    const std::string text(200, 'x');
    for (size_t cut : {size_t(0), size_t(1), size_t(55), size_t(56), size_t(63), size_t(64),
                       size_t(65), size_t(199)}) {
        Sha256 hash;
        hash.Update(text.data(), cut);
        hash.Update(text.data() + cut, text.size() - cut);
        EXPECT_EQ(hash.Finish(), Sha256Of(text.data(), text.size())) << cut;
    }
}

TEST(NormalisePin, AcceptsHexInAnyCaseWithColonsAndBlanks) {
    const std::string pin = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    EXPECT_EQ(NormalisePin(pin), pin);
    EXPECT_EQ(NormalisePin("BA:78:16:BF:8F:01:CF:EA:41:41:40:DE:5D:AE:22:23:B0:03:61:A3:96:17:"
                           "7A:9C:B4:10:FF:61:F2:00:15:AD"),
              pin);
    EXPECT_EQ(
        NormalisePin("  BA7816BF 8F01CFEA\t414140DE5DAE2223b00361a396177a9cb410ff61f20015ad "),
        pin);
}

TEST(NormalisePin, RejectsAnythingButSixtyFourHexDigits) {
    const std::string pin = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    for (const std::string& bad :
         {std::string(), pin.substr(1), pin + "0", pin + "00", "sha256:" + pin, pin.substr(1) + "g",
          pin.substr(1) + "-", std::string(":::")})
        EXPECT_EQ(NormalisePin(bad), "") << bad;
}

} // namespace
} // namespace pw
