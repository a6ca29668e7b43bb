// TLS record framing before Secure Channel sees a byte: whole records and leftovers, and the
// version a server answers with.
#include <gtest/gtest.h>

#include "core/Errors.h"
#include "core/TlsRecord.h"

namespace pw {
namespace {

std::string Record(char type, uint16_t version, const std::string& body) {
    return std::string{type, char(version >> 8), char(version & 0xff), char(body.size() >> 8),
                       char(body.size() & 0xff)} +
           body;
}

TEST(TlsRecord, WholeRecordsAndTheOneStillArriving) {
    const std::string two = Record(23, kTls12, "abc") + Record(21, kTls12, "xy");
    EXPECT_EQ(WholeTlsRecordsLength(two), two.size());
    for (size_t cut = 0; cut < 8; ++cut)
        EXPECT_EQ(WholeTlsRecordsLength(two.substr(0, cut)), 0u) << cut;
    EXPECT_EQ(WholeTlsRecordsLength(two.substr(0, two.size() - 1)), 8u);
    EXPECT_EQ(WholeTlsRecordsLength(""), 0u);
    // A clear-text line after whole records is no record: it never reaches a reader as one.
    EXPECT_THROW(WholeTlsRecordsLength(Record(23, kTls12, "abc") + "+OK ready\r\n"), ETlsError);
}

TEST(TlsRecord, TheVersionTheServerChose) {
    // ServerHello: handshake type 2, a 24-bit length, then the version.
    const std::string hello = std::string{2, 0, 0, 38, 3, 1} + std::string(36, '\0');
    EXPECT_EQ(ServerOfferedVersion(Record(22, kTls10, hello)), kTls10);
    EXPECT_EQ(ServerOfferedVersion(Record(22, kTls12, std::string{2, 0, 0, 38, 3, 3})), kTls12);
    // A protocol_version alert in the record layer of the old version.
    EXPECT_EQ(ServerOfferedVersion(Record(21, kTls11, std::string{2, 70})), kTls11);
    EXPECT_EQ(ServerOfferedVersion(Record(22, kTls12, std::string{11, 0, 0, 1, 0})), std::nullopt);
    EXPECT_EQ(ServerOfferedVersion(Record(22, kTls12, std::string{2, 0})), std::nullopt);
    EXPECT_EQ(ServerOfferedVersion("\x16\x03"), std::nullopt);
}

TEST(TlsRecord, VersionNamesAndSecureChannelProtocolBits) {
    EXPECT_EQ(OldTlsVersionText(kTls10), "the server offers only TLS 1.0");
    EXPECT_EQ(TlsVersionName(kSsl30), "SSL 3.0");
    EXPECT_EQ(TlsVersionName(0x0205), "version 0x0205");
    EXPECT_EQ(TlsVersionOfProtocol(0x00000080), kTls10); // SP_PROT_TLS1_0_CLIENT
    EXPECT_EQ(TlsVersionOfProtocol(0x00000200), kTls11);
    EXPECT_EQ(TlsVersionOfProtocol(0x00000800), kTls12);
    EXPECT_EQ(TlsVersionOfProtocol(0x00002000), kTls13);
    EXPECT_EQ(TlsVersionOfProtocol(0x00000008), 0); // SSL 2.0
}

} // namespace
} // namespace pw
