// When a failing mailbox is worth telling the user about, and the words for it. A failure the
// user must act on is told once per mailbox, again only when its reason changes or when it
// comes back after a successful check; an unreachable server, or one whose connection cannot be
// secured, only after several checks in a row, since such a failure of one check usually
// passes by itself.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pw {

enum class AlertReason {
    Certificate,          // the detail is the certificate error's message, shown as it stands
    TlsNotOffered,        // STLS was required and the server refused it
    ClearPasswordRefused, // the settings forbid sending the password without TLS
    LoginRefused,         // the server refused USER or PASS
    Unreachable,          // host not found, connection refused, timed out
    TlsVersion,           // the server offers only a TLS version below 1.2; detail as it stands
    TlsFailed,            // the TLS handshake failed (a clear-text server on a TLS port, say)
    ServerRefused,        // a lasting refusal in the server's own words (the detail)
};

// Checks in a row that must fail unreachable before that is told.
constexpr int kUnreachableChecksBeforeAlert = 3;
// Checks in a row whose TLS handshake must fail before that is told.
constexpr int kTlsFailedChecksBeforeAlert = 2;
// A pinned certificate that expires within this many days is told, once.
constexpr int kPinExpiryWarningDays = 14;
// What a balloon holds, without the terminating zero.
constexpr size_t kMaxBalloonTitle = 63;
constexpr size_t kMaxBalloonText = 255;
constexpr std::string_view kAlertTitle = "pwagent";

// The text cut to bound bytes, a cut marked with "..."; control bytes become blanks.
std::string FitText(std::string_view text, size_t bound);

// "the server refused the login"; for a certificate the detail itself.
std::string AlertReasonWords(AlertReason reason, std::string_view detail);

// "pwagent: x@y cannot be checked: <reason words>", within kMaxBalloonText.
std::string AlertText(std::string_view mailbox, AlertReason reason, std::string_view detail);

// "pwagent.ini line 7 cannot be read", or without a line "pwagent.ini cannot be read": told
// once when the settings are loaded.
std::string UnreadableSettingsText(std::optional<size_t> line);

// The pinned certificate's expiry, told before the server's renewal breaks the pin.
std::string PinExpiryText(std::string_view mailbox, int daysLeft);

// One mailbox's failure, told with others of the same check in one balloon.
struct MailboxAlert {
    std::string Mailbox;
    AlertReason Reason = AlertReason::Unreachable;
    std::string Detail;
    // A notice that is no failure (a pinned certificate near its end): its whole text.
    std::string Notice;
};

// The one balloon of a check: a single failure as AlertText says it (a notice as it stands);
// several failures as "pwagent: N mailboxes cannot be checked: a@x: <words>; b@y: <words>";
// failures and notices together one after another. Within kMaxBalloonText.
std::string BalloonText(const std::vector<MailboxAlert>& alerts);

class MailboxAlerts {
public:
    // The text to show for this failure of mailbox ("user@host"), or nothing when it is not
    // to be shown (already told, or unreachable too few times yet).
    std::optional<std::string> Failed(const std::string& mailbox, AlertReason reason,
                                      std::string_view detail = {});
    // The mailbox was checked: what was told is forgotten, a count of failures restarts. With
    // the days left of the certificate that a pin accepted: the text to show when it expires
    // within kPinExpiryWarningDays, once per mailbox.
    std::optional<std::string> Succeeded(const std::string& mailbox,
                                         std::optional<int> pinnedDaysLeft = std::nullopt);

private:
    struct State {
        std::optional<std::string> told; // the reason words last shown
        std::optional<AlertReason> run;  // the reason that failed the last checks in a row
        int inRow = 0;                   // how many
    };
    std::map<std::string, State> states_;
    std::map<std::string, bool> pinExpiryTold_;
};

} // namespace pw
