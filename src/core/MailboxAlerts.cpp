// Failure alerts; see MailboxAlerts.h.
#include "MailboxAlerts.h"

#include <algorithm>

#include "Text.h"
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
    case AlertReason::TlsVersion:
        return detail.empty() ? "the server offers only an old TLS version" : std::string(detail);
    case AlertReason::TlsFailed:
        return "the connection to the server cannot be secured (TLS)";
    case AlertReason::ServerRefused:
        return "the server says: " + std::string(detail);
    case AlertReason::Unreachable:
        break;
    }
    return "the server cannot be reached";
}

std::string UnreadableSettingsText(std::optional<size_t> line) {
    return line ? "pwagent.ini line " + std::to_string(*line) + " cannot be read"
                : std::string("pwagent.ini cannot be read");
}

std::string PinExpiryText(std::string_view mailbox, int daysLeft) {
    return FitText("pwagent: the pinned certificate of " + std::string(mailbox) +
                       (daysLeft > 0 ? " expires in " + std::to_string(daysLeft) + " days"
                                     : std::string(" expires today")) +
                       ": pin the server's next key too",
                   kMaxBalloonText);
}

namespace {
int ChecksBeforeAlert(AlertReason reason) {
    if (reason == AlertReason::Unreachable)
        return kUnreachableChecksBeforeAlert;
    if (reason == AlertReason::TlsFailed)
        return kTlsFailedChecksBeforeAlert;
    return 1;
}
} // namespace

std::string AlertText(std::string_view mailbox, AlertReason reason, std::string_view detail) {
    return FitText("pwagent: " + std::string(mailbox) +
                       " cannot be checked: " + AlertReasonWords(reason, detail),
                   kMaxBalloonText);
}

std::string BalloonText(const std::vector<MailboxAlert>& alerts) {
    const auto isNotice = [](const MailboxAlert& alert) { return !alert.Notice.empty(); };
    if (alerts.size() == 1)
        return isNotice(alerts[0])
                   ? FitText(alerts[0].Notice, kMaxBalloonText)
                   : AlertText(alerts[0].Mailbox, alerts[0].Reason, alerts[0].Detail);
    const bool failuresOnly = std::none_of(alerts.begin(), alerts.end(), isNotice);
    std::string text = "pwagent:";
    if (failuresOnly)
        text += " " + std::to_string(alerts.size()) + " mailboxes cannot be checked:";
    const char* separator = " ";
    for (const MailboxAlert& alert : alerts) {
        text += separator;
        if (isNotice(alert))
            text += StartsWith(alert.Notice, "pwagent: ") ? alert.Notice.substr(9) : alert.Notice;
        else
            text += alert.Mailbox + (failuresOnly ? ": " : " cannot be checked: ") +
                    AlertReasonWords(alert.Reason, alert.Detail);
        separator = "; ";
        if (text.size() > kMaxBalloonText)
            break;
    }
    return FitText(text, kMaxBalloonText);
}

std::optional<std::string> MailboxAlerts::Failed(const std::string& mailbox, AlertReason reason,
                                                 std::string_view detail) {
    State& state = states_[mailbox];
    const int needed = ChecksBeforeAlert(reason);
    // Another reason breaks the run: the server was reached, or secured.
    state.inRow = state.run == reason ? std::min(state.inRow + 1, needed) : 1;
    state.run = reason;
    if (state.inRow < needed)
        return std::nullopt;
    std::string words = AlertReasonWords(reason, detail);
    if (state.told == words)
        return std::nullopt;
    state.told = std::move(words);
    return AlertText(mailbox, reason, detail);
}

std::optional<std::string> MailboxAlerts::Succeeded(const std::string& mailbox,
                                                    std::optional<int> pinnedDaysLeft) {
    states_.erase(mailbox);
    if (!pinnedDaysLeft || *pinnedDaysLeft > kPinExpiryWarningDays)
        return std::nullopt;
    bool& told = pinExpiryTold_[mailbox];
    if (told)
        return std::nullopt;
    told = true;
    return PinExpiryText(mailbox, *pinnedDaysLeft);
}

} // namespace pw
