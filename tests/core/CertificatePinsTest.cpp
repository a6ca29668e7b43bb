// The pinned-certificate rules: how a user may write a pin, and which certificate it names.
#include "core/CertificatePins.h"

#include <gtest/gtest.h>

#include <string>

namespace pw {
namespace {

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

TEST(CertificatePins, SeveralPinsOfEitherKindAndTheOneComparison) {
    const std::string a(64, 'a'), b(64, 'b'), c(64, 'c');
    const auto pins = ParsePins(" SPKI:" + std::string(64, 'A') + " , " + b);
    ASSERT_TRUE(pins);
    ASSERT_EQ(pins->size(), 2u);
    EXPECT_EQ(PinsText(*pins), "spki:" + a + "," + b);
    EXPECT_EQ(ParsePins(PinsText(*pins)), pins);
    // A key pin holds across a renewal (new certificate, same key); a certificate pin does not.
    EXPECT_TRUE(PinsMatch(*pins, c, a));
    EXPECT_TRUE(PinsMatch(*pins, b, c));
    EXPECT_FALSE(PinsMatch(*pins, a, b));
    // A hash that could not be taken matches nothing, not even an empty pin list's neighbour.
    EXPECT_FALSE(PinsMatch(*pins, "", ""));
    EXPECT_FALSE(PinsMatch({}, c, a));
    for (const std::string& bad : {std::string(), a + ",", "," + a, std::string("spki:"),
                                   a + ",spki:12", "sha256:" + a, "spki:spki:" + a})
        EXPECT_FALSE(ParsePins(bad)) << bad;
}

TEST(CertificatePins, HexOfBytes) {
    const uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    EXPECT_EQ(HexOf(bytes, sizeof bytes), "000fa5ff");
}

} // namespace
} // namespace pw
