// The agent's settings file: every key, the port-995 rule, host matching, and the warnings that
// bad lines give instead of failing.
#include "core/AgentIni.h"

#include <gtest/gtest.h>

#include <string>

namespace pw {
namespace {

const std::string kPin = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

TEST(AgentIni, NoFileMeansClearTextEverywhereButPort995) {
    const AgentSettingsFile settings = ParseAgentIni("");
    EXPECT_TRUE(settings.Warnings.empty());
    EXPECT_TRUE(settings.Balloons);
    for (const char* field : {"pop.example.org", "pop.example.org:110", "pop.example.org:pop3",
                              "pop.example.org:9950"}) {
        const ServerSettings server = settings.TlsFor(field);
        EXPECT_EQ(server.Mode, TlsMode::Off) << field;
        EXPECT_TRUE(server.AllowClearPasswords);
        EXPECT_TRUE(server.Capabilities);
        EXPECT_EQ(server.Pin, "");
    }
    EXPECT_EQ(settings.TlsFor("pop.example.org:995").Mode, TlsMode::Implicit);
}

TEST(AgentIni, ReadsEveryKeyWithoutLetterCaseThroughBomCrLfAndComments) {
    const AgentSettingsFile settings = ParseAgentIni("\xEF\xBB\xBF; pwagent settings\r\n"
                                                     "[defaults]\r\n"
                                                     "  tls = STLS \r\n"
                                                     "\r\n"
                                                     "# no clear passwords\r\n"
                                                     "AllowClearPasswords=No\r\n"
                                                     "BALLOONS=false\r\n"
                                                     "Capabilities=no\r\n"
                                                     "[SERVER Home.Lan]\n"
                                                     "capabilities=1\n"
                                                     "TLS=Implicit\n"
                                                     "Pin=01:23:45:67:89:AB:CD:EF:01:23:45:67:89:"
                                                     "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:"
                                                     "67:89:AB:CD:EF\n"
                                                     "allowclearpasswords=yes\n");
    EXPECT_TRUE(settings.Warnings.empty()) << settings.Warnings.front();
    EXPECT_EQ(settings.DefaultTls, TlsMode::Stls);
    EXPECT_FALSE(settings.AllowClearPasswords);
    EXPECT_FALSE(settings.Balloons);

    const ServerSettings home = settings.TlsFor("home.lan:110");
    EXPECT_EQ(home.Mode, TlsMode::Implicit);
    EXPECT_EQ(home.Pin, kPin);
    EXPECT_TRUE(home.AllowClearPasswords);
    EXPECT_TRUE(home.Capabilities);

    const ServerSettings other = settings.TlsFor("pop.example.org");
    EXPECT_EQ(other.Mode, TlsMode::Stls);
    EXPECT_EQ(other.Pin, "");
    EXPECT_FALSE(other.AllowClearPasswords);
    EXPECT_FALSE(other.Capabilities);
}

TEST(AgentIni, HostSettingWinsOverPort995ButTheDefaultDoesNot) {
    const AgentSettingsFile settings = ParseAgentIni("[Defaults]\nTLS=stls\n"
                                                     "[Server plain.example.org]\nTLS=off\n"
                                                     "[Server pinned.example.org]\nPin=" +
                                                     kPin + "\n");
    EXPECT_EQ(settings.TlsFor("plain.example.org:995").Mode, TlsMode::Off);
    EXPECT_EQ(settings.TlsFor("other.example.org:995").Mode, TlsMode::Implicit);
    EXPECT_EQ(settings.TlsFor("other.example.org:110").Mode, TlsMode::Stls);
    // A section without TLS= leaves the mode to the port and the default.
    EXPECT_EQ(settings.TlsFor("PINNED.example.org:995").Mode, TlsMode::Implicit);
    EXPECT_EQ(settings.TlsFor("pinned.example.org").Mode, TlsMode::Stls);
    EXPECT_EQ(settings.TlsFor("pinned.example.org").Pin, kPin);
}

TEST(AgentIni, HostMatchesTheWholeHostPartOnly) {
    const AgentSettingsFile settings = ParseAgentIni("[Server mail.example.com]\nTLS=stls\n");
    EXPECT_EQ(settings.TlsFor(" mail.example.com :110").Mode, TlsMode::Stls);
    EXPECT_EQ(settings.TlsFor("mail.example.com.evil.org").Mode, TlsMode::Off);
    EXPECT_EQ(settings.TlsFor("pop.mail.example.com").Mode, TlsMode::Off);
    EXPECT_EQ(settings.TlsFor("").Mode, TlsMode::Off);
    EXPECT_EQ(settings.TlsFor(":995").Mode, TlsMode::Implicit);
}

TEST(AgentIni, BadLinesAreSkippedWithTheirLineNumber) {
    const AgentSettingsFile settings = ParseAgentIni("TLS=stls\n"         // 1
                                                     "[Defaults]\n"       // 2
                                                     "TLS=tsl\n"          // 3
                                                     "Balloons=maybe\n"   // 4
                                                     "Password=hunter2\n" // 5
                                                     "just words\n"       // 6
                                                     "Pin=" +
                                                     kPin +
                                                     "\n"                           // 7
                                                     "[Server a.example.org]\n"     // 8
                                                     "Pin=12:34\n"                  // 9
                                                     "Balloons=no\n"                // 10
                                                     "[Server]\n"                   // 11
                                                     "TLS=implicit\n"               // 12
                                                     "[Mailboxes]\n"                // 13
                                                     "TLS=implicit\n"               // 14
                                                     "[Defaults\n"                  // 15
                                                     "TLS=implicit\n"               // 16
                                                     "[Server b.example.org:995]\n" // 17
                                                     "TLS=stls\n");                 // 18
    const std::vector<std::string> expected = {
        "pwagent.ini line 1: 'TLS' stands before any section, ignored",
        "pwagent.ini line 3: unknown value 'tsl' for TLS, ignored",
        "pwagent.ini line 4: unknown value 'maybe' for Balloons, ignored",
        "pwagent.ini line 5: unknown key 'Password', ignored",
        "pwagent.ini line 6: 'just words' is not a key=value line, ignored",
        "pwagent.ini line 7: Pin belongs in a [Server host] section, ignored",
        "pwagent.ini line 9: '12:34' is not a SHA-256 fingerprint (64 hex digits) for Pin, "
        "ignored",
        "pwagent.ini line 10: Balloons belongs in [Defaults], ignored",
        "pwagent.ini line 11: [Server] names no host, its lines ignored",
        "pwagent.ini line 13: unknown section 'Mailboxes', its lines ignored",
        "pwagent.ini line 15: section header '[Defaults' has no closing ']', its lines ignored",
        "pwagent.ini line 17: a server section names the host alone; the port ':995' is ignored",
    };
    EXPECT_EQ(settings.Warnings, expected);
    EXPECT_EQ(settings.DefaultTls, TlsMode::Off);
    EXPECT_TRUE(settings.Balloons);
    EXPECT_EQ(settings.TlsFor("a.example.org").Pin, "");
    EXPECT_EQ(settings.TlsFor("b.example.org").Mode, TlsMode::Stls);
    for (const std::string& warning : settings.Warnings)
        EXPECT_EQ(warning.find("hunter2"), std::string::npos);
}

TEST(AgentIni, FirstOfTwoEqualKeysCountsAndSectionsOfOneHostMerge) {
    const AgentSettingsFile settings = ParseAgentIni("[Defaults]\n"
                                                     "TLS=bogus\n" // a bad value sets nothing
                                                     "TLS=stls\n"
                                                     "tls=implicit\n"
                                                     "[Server x.org]\n"
                                                     "TLS=off\n"
                                                     "[Server X.ORG]\n"
                                                     "TLS=implicit\n"
                                                     "Pin=" +
                                                     kPin + "\n");
    EXPECT_EQ(settings.DefaultTls, TlsMode::Stls);
    ASSERT_EQ(settings.Servers.size(), 1u);
    EXPECT_EQ(settings.TlsFor("x.org").Mode, TlsMode::Off);
    EXPECT_EQ(settings.TlsFor("x.org").Pin, kPin);
    ASSERT_EQ(settings.Warnings.size(), 4u);
    EXPECT_EQ(settings.Warnings[1],
              "pwagent.ini line 4: tls given again (first on line 3), ignored");
    EXPECT_EQ(settings.Warnings[2],
              "pwagent.ini line 8: TLS given again (first on line 6), ignored");
    // A pin that no TLS session checks: its owner wanted TLS, so no clear password either.
    EXPECT_EQ(settings.Warnings[3], "pwagent.ini line 9: Pin for 'x.org' without TLS: its "
                                    "password is never sent in clear text, except on port 995 "
                                    "(implicit TLS)");
    EXPECT_FALSE(settings.TlsFor("x.org").AllowClearPasswords);
    // The unreadable TLS line of [Defaults] concerns every server.
    EXPECT_EQ(settings.UnreadableLine, 2u);
    EXPECT_FALSE(settings.TlsFor("other.org").AllowClearPasswords);
}

TEST(AgentIni, UnicodeFilesReadAsTheirTextAndUnreadableSecurityLinesFailSafe) {
    const std::string text = "[Defaults]\r\nAllowClearPasswords=no\r\n[Server a.org]\r\n"
                             "AllowClearPasswords=yes\r\n";
    std::string le = "\xFF\xFE", be = "\xFE\xFF", bare;
    for (char c : text) {
        le += std::string{c, '\0'};
        be += std::string{'\0', c};
        bare += std::string{c, '\0'};
    }
    for (const std::string& file : {le, be, bare, "\xEF\xBB\xBF" + text}) {
        const AgentSettingsFile settings = ParseAgentIni(file);
        EXPECT_TRUE(settings.Warnings.empty()) << settings.Warnings.front();
        EXPECT_FALSE(settings.TlsFor("b.org").AllowClearPasswords);
        EXPECT_TRUE(settings.TlsFor("a.org").AllowClearPasswords);
    }
    // A lone surrogate in a server's line: that server alone gets no clear password; a broken
    // section header leaves every server without one. Other lines only warn.
    std::string broken =
        le.substr(0, 2 + 2 * 57) + std::string("\x00\xD8", 2) + le.substr(2 + 2 * 57);
    AgentSettingsFile settings = ParseAgentIni(broken);
    EXPECT_EQ(settings.Warnings,
              std::vector<std::string>{"pwagent.ini line 4: line is not valid text, ignored"});
    EXPECT_EQ(settings.UnreadableLine, 4u);
    EXPECT_FALSE(settings.TlsFor("a.org").AllowClearPasswords);
    EXPECT_FALSE(settings.UnreadableDefaults);
    settings = ParseAgentIni("[Server b.org\nTLS=implicit\n[Defaults]\nBalloons=maybe\n");
    EXPECT_EQ(settings.UnreadableLine, 2u);
    EXPECT_FALSE(settings.TlsFor("c.org").AllowClearPasswords);
    settings = ParseAgentIni("[Defaults]\nBalloons=maybe\n[Server pop.example.com.]\nTLS=x\n");
    EXPECT_EQ(settings.UnreadableLine, 4u);
    EXPECT_TRUE(settings.TlsFor("other.org").AllowClearPasswords);
    // Blanks and the root's dot name the same host.
    EXPECT_FALSE(settings.TlsFor(" POP.example.com.:110").AllowClearPasswords);
}

TEST(AgentIni, OverLongLinesAreSkippedAndKeepTheirKeysOutOfTheSectionBefore) {
    const std::string longValue(kMaxAgentIniLine, 'x');
    const AgentSettingsFile settings =
        ParseAgentIni("[Defaults]\nBalloons=no" + longValue + "\n[Server " + longValue +
                      "]\nTLS=implicit\n[Defaults]\nBalloons=no\n");
    EXPECT_EQ(settings.Warnings, (std::vector<std::string>{
                                     "pwagent.ini line 2: line longer than 1024 bytes, ignored",
                                     "pwagent.ini line 3: line longer than 1024 bytes, ignored"}));
    EXPECT_EQ(settings.DefaultTls, TlsMode::Off);
    EXPECT_FALSE(settings.Balloons);
    // A line of exactly the bound is still read.
    const std::string host(kMaxAgentIniLine - 9, 'h');
    EXPECT_EQ(ParseAgentIni("[Server " + host + "]\nTLS=stls").TlsFor(host).Mode, TlsMode::Stls);
}

TEST(AgentIni, QuotedValuesInWarningsAreBoundedAndFreeOfControlBytes) {
    const AgentSettingsFile settings =
        ParseAgentIni("[Defaults]\nTLS=a\x1b[2J" + std::string(100, 'y') + "\n");
    ASSERT_EQ(settings.Warnings.size(), 1u);
    EXPECT_EQ(settings.Warnings[0], "pwagent.ini line 2: unknown value 'a?[2J" +
                                        std::string(35, 'y') + "...' for TLS, ignored");
}

} // namespace
} // namespace pw
