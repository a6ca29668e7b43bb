// When a failing mailbox is told to the user, and the words of the balloon.
#include "core/MailboxAlerts.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

constexpr const char* kNotTrusted = "the server's certificate is not trusted";
constexpr const char* kExpired = "the server's certificate has expired";

TEST(MailboxAlerts, TellsOnceThenOnlyWhenTheReasonChanges) {
    MailboxAlerts alerts;
    EXPECT_EQ(alerts.Failed("joe@example.org", AlertReason::Certificate, kNotTrusted),
              "pwagent: joe@example.org cannot be checked: the server's certificate is not "
              "trusted");
    EXPECT_EQ(alerts.Failed("joe@example.org", AlertReason::Certificate, kNotTrusted),
              std::nullopt);
    // Another mailbox is told on its own.
    EXPECT_TRUE(alerts.Failed("ann@example.org", AlertReason::LoginRefused).has_value());
    // Another certificate fault is another reason.
    EXPECT_EQ(alerts.Failed("joe@example.org", AlertReason::Certificate, kExpired),
              "pwagent: joe@example.org cannot be checked: the server's certificate has expired");
    EXPECT_EQ(alerts.Failed("joe@example.org", AlertReason::LoginRefused),
              "pwagent: joe@example.org cannot be checked: the server refused the login");
    EXPECT_EQ(alerts.Failed("joe@example.org", AlertReason::LoginRefused), std::nullopt);
}

TEST(MailboxAlerts, AFixedFailureThatComesBackIsToldAgain) {
    MailboxAlerts alerts;
    EXPECT_TRUE(alerts.Failed("joe@x", AlertReason::TlsNotOffered).has_value());
    alerts.Succeeded("joe@x");
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::TlsNotOffered),
              "pwagent: joe@x cannot be checked: the server does not offer TLS (STLS)");
    alerts.Succeeded("nobody@x"); // unknown mailbox: nothing to forget
}

TEST(MailboxAlerts, UnreachableIsToldOnlyAfterThreeChecksInARow) {
    MailboxAlerts alerts;
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable), std::nullopt);
        EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable), std::nullopt);
        alerts.Succeeded("joe@x"); // restarts the count
    }
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable), std::nullopt);
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable), std::nullopt);
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable),
              "pwagent: joe@x cannot be checked: the server cannot be reached");
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable), std::nullopt);
}

TEST(MailboxAlerts, AReachedServerBreaksTheRunAndAShortOutageKeepsWhatWasTold) {
    MailboxAlerts alerts;
    EXPECT_TRUE(alerts.Failed("joe@x", AlertReason::LoginRefused).has_value());
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable), std::nullopt);
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable), std::nullopt);
    // Reached again with the same fault: not news.
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::LoginRefused), std::nullopt);
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable), std::nullopt);
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable), std::nullopt);
    EXPECT_TRUE(alerts.Failed("joe@x", AlertReason::Unreachable).has_value());
}

TEST(MailboxAlerts, EveryReasonHasItsWords) {
    EXPECT_EQ(AlertReasonWords(AlertReason::ClearPasswordRefused, ""),
              "the password would be sent in clear text");
    EXPECT_EQ(AlertReasonWords(AlertReason::Certificate, ""), kNotTrusted);
    EXPECT_EQ(AlertReasonWords(AlertReason::Certificate,
                               "the server's certificate does not match the name pop.x"),
              "the server's certificate does not match the name pop.x");
    // Only the certificate carries its detail.
    EXPECT_EQ(AlertReasonWords(AlertReason::LoginRefused, "-ERR bad password"),
              "the server refused the login");
}

TEST(MailboxAlerts, TextsFitABalloon) {
    const std::string mailbox = std::string(200, 'u') + "@" + std::string(100, 'h');
    const std::string text = AlertText(mailbox, AlertReason::Certificate,
                                       "the server's certificate does not match the name "
                                       "a\r\nb");
    EXPECT_EQ(text.size(), kMaxBalloonText);
    EXPECT_EQ(text.substr(0, 20), "pwagent: uuuuuuuuuuu");
    EXPECT_EQ(text.substr(kMaxBalloonText - 4), "h...");

    EXPECT_EQ(AlertText("a@b", AlertReason::Certificate, "name a\r\nb"),
              "pwagent: a@b cannot be checked: name a  b");
    EXPECT_EQ(FitText("abcdef", 6), "abcdef");
    EXPECT_EQ(FitText("abcdefg", 6), "abc...");
    EXPECT_EQ(FitText("abcdefg", 2), "ab");
    EXPECT_EQ(FitText(kAlertTitle, kMaxBalloonTitle), "pwagent");
}

TEST(MailboxAlerts, AFailedHandshakeIsToldAfterTheSecondCheckInARow) {
    MailboxAlerts alerts;
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::TlsFailed), std::nullopt);
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::Unreachable), std::nullopt); // breaks the run
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::TlsFailed), std::nullopt);
    EXPECT_EQ(alerts.Failed("joe@x", AlertReason::TlsFailed),
              "pwagent: joe@x cannot be checked: the connection to the server cannot be secured "
              "(TLS)");
    // A version refused is the user's to act on at once, in the handshake's own words.
    EXPECT_EQ(alerts.Failed("ann@x", AlertReason::TlsVersion, "the server offers only TLS 1.0"),
              "pwagent: ann@x cannot be checked: the server offers only TLS 1.0");
}

TEST(MailboxAlerts, APinnedCertificateNearItsEndIsToldOnce) {
    MailboxAlerts alerts;
    EXPECT_EQ(alerts.Succeeded("joe@x"), std::nullopt);
    EXPECT_EQ(alerts.Succeeded("joe@x", kPinExpiryWarningDays + 1), std::nullopt);
    EXPECT_EQ(alerts.Succeeded("joe@x", 9),
              "pwagent: the pinned certificate of joe@x expires in 9 days: pin the server's "
              "next key too");
    EXPECT_EQ(alerts.Succeeded("joe@x", 8), std::nullopt);
    EXPECT_EQ(alerts.Succeeded("ann@x", 0),
              "pwagent: the pinned certificate of ann@x expires today: pin the server's next key "
              "too");
    EXPECT_EQ(UnreadableSettingsText(7), "pwagent.ini line 7 cannot be read");
    EXPECT_EQ(UnreadableSettingsText(std::nullopt), "pwagent.ini cannot be read");
}

TEST(MailboxAlerts, OneBalloonNamesEveryMailboxOfTheCheck) {
    const MailboxAlert refused{"a@x", AlertReason::LoginRefused, "", ""};
    const MailboxAlert perm{"b@y", AlertReason::ServerRefused, "Your account is not enabled", ""};
    const MailboxAlert pin{"c@z", AlertReason::Unreachable, "", PinExpiryText("c@z", 3)};
    EXPECT_EQ(BalloonText({refused}),
              "pwagent: a@x cannot be checked: the server refused the login");
    EXPECT_EQ(BalloonText({refused, perm}),
              "pwagent: 2 mailboxes cannot be checked: a@x: the server refused the login; b@y: "
              "the server says: Your account is not enabled");
    const std::vector<MailboxAlert> many(40, perm);
    const std::string text = BalloonText(many);
    EXPECT_EQ(text.size(), kMaxBalloonText);
    EXPECT_EQ(text.substr(0, 40), "pwagent: 40 mailboxes cannot be checked:");
    EXPECT_EQ(BalloonText({pin}), PinExpiryText("c@z", 3));
    EXPECT_EQ(BalloonText({refused, pin}),
              "pwagent: a@x cannot be checked: the server refused the login; the pinned "
              "certificate of c@z expires in 3 days: pin the server's next key too");
}

} // namespace
} // namespace pw
