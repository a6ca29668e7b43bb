// The capabilities a POP3 server lists in its answer to CAPA.
#include "core/Pop3Capabilities.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

TEST(ParseCapabilities, KeepsTheKnownTagsInAnyCaseUpToTheFinalDot) {
    const Pop3Capabilities dovecot = ParseCapabilities("CAPA\r\nTOP\r\nUIDL\r\nRESP-CODES\r\n"
                                                       "PIPELINING\r\nAUTH-RESP-CODE\r\nSTLS\r\n"
                                                       "USER\r\nSASL PLAIN\r\n.\r\n");
    EXPECT_TRUE(dovecot.Pipelining && dovecot.RespCodes && dovecot.AuthRespCode && dovecot.Stls &&
                dovecot.Top && dovecot.Uidl);
    EXPECT_FALSE(dovecot.LoginDelaySeconds);
    EXPECT_EQ(CapabilitiesText(dovecot), "PIPELINING RESP-CODES AUTH-RESP-CODE STLS TOP UIDL");

    // LF alone, tabs, letter case, the per-user form, and nothing after the final line.
    const Pop3Capabilities odd =
        ParseCapabilities("login-delay\t900 USER\n..PIPELINING\n.\nUIDL\n");
    EXPECT_EQ(odd.LoginDelaySeconds, 900u);
    EXPECT_FALSE(odd.Pipelining); // ".PIPELINING" once unstuffed: no tag of ours
    EXPECT_FALSE(odd.Uidl);
    EXPECT_EQ(CapabilitiesText(odd), "LOGIN-DELAY 900");
}

TEST(ParseCapabilities, TakesNothingFromWhatIsNoCapability) {
    for (const char* body : {"", ".\r\n", "PIPELININGX\r\n.\r\n", "XPIPELINING\r\n", "\r\n\r\n",
                             "LOGIN-DELAY\r\n", "LOGIN-DELAY x9\r\n", " PIPELINING\r\n"}) {
        const Pop3Capabilities none = ParseCapabilities(body);
        EXPECT_EQ(CapabilitiesText(none), "none") << body;
    }
    EXPECT_EQ(ParseCapabilities("LOGIN-DELAY 99999999999999\r\n").LoginDelaySeconds, 4294967295u);
}

} // namespace
} // namespace pw
