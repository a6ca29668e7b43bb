// The server field's split, shared by the socket, the settings file and the stand-in client.
#include <gtest/gtest.h>

#include "core/ServerField.h"

namespace pw {
namespace {

TEST(ServerField, SplitsAtTheFirstColonAndTrimsOnlyTheMatchedHost) {
    const ServerFieldParts plain = SplitServerField("pop.example.com");
    EXPECT_EQ(plain.Host, "pop.example.com");
    EXPECT_FALSE(plain.HasPort);
    EXPECT_EQ(plain.Port, "");

    // The socket takes the host as given; the settings file matches it trimmed.
    const ServerFieldParts padded = SplitServerField(" pop.example.com :995:1");
    EXPECT_EQ(padded.Host, " pop.example.com ");
    EXPECT_TRUE(padded.HasPort);
    EXPECT_EQ(padded.Port, "995:1");
    EXPECT_EQ(ServerHostPart(" pop.example.com :995"), "pop.example.com");

    const ServerFieldParts bare = SplitServerField("host:");
    EXPECT_TRUE(bare.HasPort);
    EXPECT_EQ(bare.Port, "");
}

TEST(ServerField, PortIsZeroUnlessADecimalNumber) {
    EXPECT_EQ(ServerPortPart("host:995"), 995);
    EXPECT_EQ(ServerPortPart("host: 110"), 110);
    EXPECT_EQ(ServerPortPart("host"), 0);
    EXPECT_EQ(ServerPortPart("host:"), 0);
    EXPECT_EQ(ServerPortPart("host:pop3"), 0);
    EXPECT_EQ(ServerPortPart("host:995:1"), 0);
    EXPECT_EQ(ServerPortPart("host:99999999999"), 0);
}

} // namespace
} // namespace pw
