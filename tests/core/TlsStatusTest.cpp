// The Windows status codes of a failed handshake or certificate check, as the user reads them.
#include "core/Errors.h"
#include "core/TlsStatus.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

template <typename Raise> std::string CertificateMessageOf(Raise raise) {
    try {
        raise();
    } catch (const ECertificateError& e) {
        return e.Message();
    }
    return "(no ECertificateError)";
}

TEST(TlsStatus, PolicyCodesGiveTheUsersWords) {
    EXPECT_EQ(CertificatePolicyText(kCertExpired, "h"), "the server's certificate has expired");
    EXPECT_EQ(CertificatePolicyText(kCertNameMismatch, "mail.example"),
              "the server's certificate does not match the name mail.example");
    for (uint32_t other : {kCertUntrustedRoot, kCertChaining, kCertRevoked, kTrustCertSignature,
                           uint32_t(0x800B0110) /* wrong usage */, uint32_t(0x80092010)})
        EXPECT_EQ(CertificatePolicyText(other, "h"), "the server's certificate is not trusted")
            << StatusHex(other);
    EXPECT_EQ(CertificateMessageOf([] { RaiseCertificatePolicyFailure(kCertChaining, "h"); }),
              "the server's certificate is not trusted");
}

TEST(TlsStatus, HandshakeCodesAboutTheCertificateRaiseCertificateErrors) {
    EXPECT_EQ(CertificateMessageOf([] { RaiseTlsFailure("TLS handshake", kSecCertExpired, "h"); }),
              "the server's certificate has expired");
    EXPECT_EQ(
        CertificateMessageOf([] { RaiseTlsFailure("TLS handshake", kSecWrongPrincipal, "a.b"); }),
        "the server's certificate does not match the name a.b");
    for (uint32_t code : {kSecUntrustedRoot, kSecCertUnknown})
        EXPECT_EQ(CertificateMessageOf([&] { RaiseTlsFailure("TLS handshake", code, "h"); }),
                  "the server's certificate is not trusted");
}

TEST(TlsStatus, OtherHandshakeCodesRaiseTlsErrorsWithTheCode) {
    try {
        RaiseTlsFailure("TLS handshake", 0x80090308, "h"); // SEC_E_INVALID_TOKEN
        FAIL();
    } catch (const ETlsError& e) {
        EXPECT_EQ(e.Message(), "TLS handshake failed (0x80090308)");
    }
    EXPECT_THROW(RaiseTlsFailure("TLS decryption", 0x80090326, "h"), ETlsError);
    EXPECT_EQ(StatusHex(0x800b010f), "0x800B010F");
}

} // namespace
} // namespace pw

namespace pw {
namespace {

TEST(TlsRecord, FirstRecordIsWholeOnlyWhenItsAnnouncedLengthHasCome) {
    const std::string header("\x17\x03\x03\x00\x04", 5);
    EXPECT_EQ(FirstTlsRecordLength(""), 0u);
    for (size_t n = 1; n < 9; ++n)
        EXPECT_EQ(FirstTlsRecordLength((header + "abcd").substr(0, n)), 0u) << n;
    EXPECT_EQ(FirstTlsRecordLength(header + "abcd"), 9u);
    EXPECT_EQ(FirstTlsRecordLength(header + "abcd" + header), 9u);
    // The longest allowed record.
    std::string longest("\x17\x03\x03\x48\x00", 5);
    longest.resize(kMaxTlsRecord);
    EXPECT_EQ(FirstTlsRecordLength(longest), kMaxTlsRecord);
}

TEST(TlsRecord, HostileHeadersAreRefused) {
    EXPECT_THROW(FirstTlsRecordLength("+OK POP3 ready\r\n"), ETlsError);
    EXPECT_THROW(FirstTlsRecordLength(std::string("\x16\x02", 2)), ETlsError);
    EXPECT_THROW(FirstTlsRecordLength("\x15"
                                      "x"),
                 ETlsError);
    // Announces one byte more than a record may hold, before any of it has come.
    EXPECT_THROW(FirstTlsRecordLength(std::string("\x17\x03\x03\x48\x01", 5)), ETlsError);
    EXPECT_THROW(FirstTlsRecordLength(std::string("\x16\x03\x01\xff\xff", 5)), ETlsError);
}

} // namespace
} // namespace pw

namespace pw {
namespace {

TEST(TlsName, DottedAddressesAreFourBytesAndAnythingElseIsAName) {
    EXPECT_EQ(DottedAddressBytes("127.0.0.1"), (std::array<uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_EQ(DottedAddressBytes("255.255.255.255"), (std::array<uint8_t, 4>{255, 255, 255, 255}));
    for (const char* name : {"localhost", "mail.example", "", "1.2.3", "1.2.3.4.5", "256.1.1.1",
                             "1..2.3", "1.2.3.", " 1.2.3.4", "0001.2.3.4", "1.2.3.4a"})
        EXPECT_FALSE(DottedAddressBytes(name).has_value()) << name;
}

} // namespace
} // namespace pw
