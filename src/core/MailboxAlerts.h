// When a failing mailbox is worth telling the user about, and the words for it. A failure the
// user must act on is told once per mailbox, again only when its reason changes or when it
// comes back after a successful check; an unreachable server only after several checks in a
// row, since a server that is down for one check usually comes back by itself.
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
    ServerRefused,        // a lasting refusal in the server's own words (the detail)
};

// Checks in a row that must fail unreachable before that is told.
constexpr int kUnreachableChecksBeforeAlert = 3;
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

// One mailbox's failure, told with others of the same check in one balloon.
struct MailboxAlert {
    std::string Mailbox;
    AlertReason Reason = AlertReason::Unreachable;
    std::string Detail;
};

// The one balloon of a check: a single failure as AlertText says it; several as "pwagent: N
// mailboxes cannot be checked: a@x: <words>; b@y: <words>", within kMaxBalloonText.
std::string BalloonText(const std::vector<MailboxAlert>& alerts);

class MailboxAlerts {
public:
    // The text to show for this failure of mailbox ("user@host"), or nothing when it is not
    // to be shown (already told, or unreachable too few times yet).
    std::optional<std::string> Failed(const std::string& mailbox, AlertReason reason,
                                      std::string_view detail = {});
    // The mailbox was checked: what was told is forgotten, the unreachable count restarts.
    void Succeeded(const std::string& mailbox);

private:
    struct State {
        std::optional<std::string> told; // the reason words last shown
        int unreachable = 0;             // checks in a row that failed unreachable
    };
    std::map<std::string, State> states_;
};

} // namespace pw
