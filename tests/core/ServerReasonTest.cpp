// The server's reasons in its negative replies.
#include "core/ServerReason.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

TEST(ParseServerReason, ReadsTheKnownCodesInAnyCaseAndTheirDeeperLevels) {
    const struct {
        const char* reply;
        RespCode code;
        const char* text;
    } cases[] = {
        {"-ERR [IN-USE] maildrop locked", RespCode::InUse, "maildrop locked"},
        {"-ERR [in-use]", RespCode::InUse, ""},
        {"-ERR [Login-Delay] wait", RespCode::LoginDelay, "wait"},
        {"-ERR [SYS/TEMP] try later", RespCode::SysTemp, "try later"},
        {"-ERR [sys/perm/quota] Your account is not enabled for POP access", RespCode::SysPerm,
         "Your account is not enabled for POP access"},
        {"-ERR [AUTH] bad password", RespCode::Auth, "bad password"},
        {"-ERR [SYS] what", RespCode::None, "what"},
        {"-ERR [IN-USEX] no", RespCode::None, "no"},
        {"-ERR plain refusal [AUTH]", RespCode::None, "plain refusal [AUTH]"},
        {"-ERR [AUTH no bracket", RespCode::None, "[AUTH no bracket"},
        {"+OK [AUTH] fine", RespCode::None, ""},
    };
    for (const auto& c : cases) {
        const ServerReason reason = ParseServerReason(c.reply);
        EXPECT_EQ(reason.Code, c.code) << c.reply;
        EXPECT_EQ(reason.Text, c.text) << c.reply;
    }
}

TEST(ServerWordsForUser, MasksThePasswordAndBoundsTheText) {
    EXPECT_EQ(ServerWordsForUser("login s3cret refused\tnow", "s3cret", 255),
              "login *** refused now");
    EXPECT_EQ(ServerWordsForUser(std::string(300, 'x'), "", 20), std::string(17, 'x') + "...");
    EXPECT_EQ(ServerWordsForUser("aaaa", "a", 255), "************");
}

TEST(LoginDelays, HoldAMailboxUntilItsTime) {
    LoginDelays delays;
    delays.Delay("a@x", 1000);
    EXPECT_TRUE(delays.Waiting("a@x", 999));
    EXPECT_FALSE(delays.Waiting("b@x", 0));
    EXPECT_FALSE(delays.Waiting("a@x", 1000));
    EXPECT_EQ(delays.Until("a@x"), 0u);

    // The server's own LOGIN-DELAY, from a minute to a day.
    EXPECT_EQ(LoginDelays::DelayMs(std::nullopt), 15u * 60 * 1000);
    EXPECT_EQ(LoginDelays::DelayMs(300), 300u * 1000);
    EXPECT_EQ(LoginDelays::DelayMs(0), 60u * 1000);
    EXPECT_EQ(LoginDelays::DelayMs(4294967295u), 24u * 60 * 60 * 1000);
}

} // namespace
} // namespace pw
