// Failure alerts; see MailboxAlerts.h.
#include "MailboxAlerts.h"

#include <algorithm>

#include "TlsStatus.h"

namespace pw {

namespace {
constexpr std::string_view kCut = "...";
} // namespace

std::string FitText(std::string_view text, size_t bound) {
    std::string result(text.size() > bound && bound >= kCut.size()
                           ? text.substr(0, bound - kCut.size())
                           : text.substr(0, bound));
    for (char& c : result)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    if (text.size() > bound && bound >= kCut.size())
        result += kCut;
    return result;
}

std::string AlertReasonWords(AlertReason reason, std::string_view detail) {
    switch (reason) {
    case AlertReason::Certificate:
        // A certificate error without its message still says what is at stake.
        return detail.empty() ? CertificateNotTrustedText() : std::string(detail);
    case AlertReason::TlsNotOffered:
        return "the server does not offer TLS (STLS)";
    case AlertReason::ClearPasswordRefused:
        return "the password would be sent in clear text";
    case AlertReason::LoginRefused:
        return "the server refused the login";
    case AlertReason::ServerRefused:
        return "the server says: " + std::string(detail);
    case AlertReason::Unreachable:
        break;
    }
    return "the server cannot be reached";
}

std::string AlertText(std::string_view mailbox, AlertReason reason, std::string_view detail) {
    return FitText("pwagent: " + std::string(mailbox) +
                       " cannot be checked: " + AlertReasonWords(reason, detail),
                   kMaxBalloonText);
}

std::string BalloonText(const std::vector<MailboxAlert>& alerts) {
    if (alerts.size() == 1)
        return AlertText(alerts[0].Mailbox, alerts[0].Reason, alerts[0].Detail);
    std::string text =
        "pwagent: " + std::to_string(alerts.size()) + " mailboxes cannot be checked:";
    const char* separator = " ";
    for (const MailboxAlert& alert : alerts) {
        text += separator + alert.Mailbox + ": " + AlertReasonWords(alert.Reason, alert.Detail);
        separator = "; ";
        if (text.size() > kMaxBalloonText)
            break;
    }
    return FitText(text, kMaxBalloonText);
}

std::optional<std::string> MailboxAlerts::Failed(const std::string& mailbox, AlertReason reason,
                                                 std::string_view detail) {
    State& state = states_[mailbox];
    if (reason == AlertReason::Unreachable) {
        state.unreachable = std::min(state.unreachable + 1, kUnreachableChecksBeforeAlert);
        if (state.unreachable < kUnreachableChecksBeforeAlert)
            return std::nullopt;
    } else {
        state.unreachable = 0; // the server was reached
    }
    std::string words = AlertReasonWords(reason, detail);
    if (state.told == words)
        return std::nullopt;
    state.told = std::move(words);
    return AlertText(mailbox, reason, detail);
}

void MailboxAlerts::Succeeded(const std::string& mailbox) {
    states_.erase(mailbox);
}

} // namespace pw
