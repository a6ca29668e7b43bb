// The one walk over the watched mailboxes, for the due check and for the client's check: one
// POP3 session per mailbox, the count of its new mail, and what a failed session tells the
// user; see PWiseF.h.
#include "PWiseF.h"

#include "core/Errors.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

namespace {
// Accounts without an "@" in their address are never contacted.
bool IsWatched(const AccountRecord& record) {
    return record.AccountAddress.str().find('@') != std::string::npos;
}

// Whole minutes, rounded up: "15 minutes", "1 more minute".
std::string MinutesText(uint64_t ms, const std::string& more = "") {
    const uint64_t minutes = (ms + 59999) / 60000;
    return std::to_string(minutes) + more + (minutes == 1 ? " minute" : " minutes");
}

// What the user can act on in a failed session; nothing for a failure of the moment.
std::optional<AlertReason> ReasonToTell(const std::exception& error, TmsCustomPOP::TStage stage) {
    if (dynamic_cast<const ECertificateError*>(&error) != nullptr)
        return AlertReason::Certificate;
    if (dynamic_cast<const ETlsRequiredError*>(&error) != nullptr)
        return AlertReason::TlsNotOffered;
    if (dynamic_cast<const ETlsVersionError*>(&error) != nullptr)
        return AlertReason::TlsVersion;
    if (stage == TmsCustomPOP::TStage::Securing &&
        dynamic_cast<const ETlsError*>(&error) != nullptr)
        return AlertReason::TlsFailed;
    if (dynamic_cast<const EClearPasswordError*>(&error) != nullptr)
        return AlertReason::ClearPasswordRefused;
    if (stage == TmsCustomPOP::TStage::LoggingIn &&
        dynamic_cast<const EServerError*>(&error) != nullptr)
        return AlertReason::LoginRefused;
    if (stage == TmsCustomPOP::TStage::Connecting &&
        (dynamic_cast<const ESocketError*>(&error) != nullptr ||
         dynamic_cast<const ETimedOutError*>(&error) != nullptr))
        return AlertReason::Unreachable;
    return std::nullopt;
}
} // namespace

TPlaceHolder::WalkEnd
TPlaceHolder::WalkMailboxes(const WalkPolicy& policy,
                            const std::function<void(const AccountRecord&, int32_t)>& found) {
    for (int i = 0; i < Accounts.AccountCount; ++i) {
        PumpBetweenMailboxes();
        if (policy.HonourHalt && cycle_.Halted())
            break;
        const AccountRecord& record = Accounts.Records[i];
        if (!IsWatched(record))
            continue;
        const std::string address = record.AccountAddress.str();
        if (policy.Only != nullptr && policy.Only->count(address) == 0)
            continue;
        if (cycle_.Delays().Waiting(address, Environment.Monotonic())) {
            const uint64_t left = cycle_.Delays().Until(address) - Environment.Monotonic();
            Trace("mailbox " + address + ": not tried for " + MinutesText(left, " more") +
                  ": the server asked for fewer logins");
            continue;
        }
        PrepareMailbox(record);
        if (policy.NoteEachMailbox)
            ClientLink->SendToClient("CHECKNOTE:" + CheckingText(address));
        ProcessMessages();
        const auto newMessages = CountNewMail(record, policy.PumpBeforeCounting);
        cycle_.SetMailbox(std::string());
        if (!newMessages)
            continue;
        Trace("mailbox " + address + ": " + std::to_string(*newMessages) + " new");
        if (*newMessages == 0)
            continue;
        found(record, *newMessages);
        if (policy.StopAtFirstNew)
            return WalkEnd::FoundNew;
    }
    CloseMailboxQuietly();
    // A "STOP" that came during the last mailbox ends the walk as one before it would.
    return policy.HonourHalt && cycle_.Halted() ? WalkEnd::Halted : WalkEnd::Completed;
}

// Twice: what the first round leads to (a command poked in the meantime, a tray click's menu)
// is handled before the next session starts, so that "STOP" is seen before the next mailbox.
// A first round that found nothing led to nothing: no second look at the empty queue.
void TPlaceHolder::PumpBetweenMailboxes() {
    if (ProcessMessages())
        ProcessMessages();
}

void TPlaceHolder::PrepareMailbox(const AccountRecord& record) {
    CloseMailboxQuietly();
    cycle_.SetMailbox(record.AccountAddress.str());
    POPbox.Password = record.AccountPassword.str();
    POPbox.Server = record.AccountServer.str();
    POPbox.UserName = record.AccountUser.str();
    const ServerSettings security = AgentIni.TlsFor(POPbox.Server);
    POPbox.Tls = security.Mode;
    POPbox.TlsPin = security.Pin;
    POPbox.AllowClearPasswords = security.AllowClearPasswords;
    POPbox.AskCapabilities = security.Capabilities;
    POPbox.SetTimeOut(Environment.MailboxTimeOut);
    POPbox.NewMessageSize = 0;
    const std::string checking = CheckingText(cycle_.Mailbox());
    SetLabel3(checking);
    SetToolTip(checking);
}

std::optional<int32_t> TPlaceHolder::CountNewMail(const AccountRecord& record,
                                                  bool pumpBeforeCounting) {
    std::optional<int32_t> newMessages;
    try {
        POPbox.OpenMailbox();
        if (POPbox.MessageCount > 0) {
            if (pumpBeforeCounting)
                ProcessMessages();
            POPbox.NewMessageCount = 0;
            POPbox.CountNewMessages();
            newMessages = POPbox.NewMessageCount;
        }
        const std::string address = record.AccountAddress.str();
        if (const auto notice = Alerts.Succeeded(address, POPbox.TlsPinnedDaysLeft())) {
            MailboxAlert alert;
            alert.Mailbox = address;
            alert.Notice = *notice;
            QueueAlert(*notice, std::move(alert));
        }
        cycle_.RetrySucceeded(address);
    } catch (const std::exception& e) {
        TraceCaught("mailbox " + record.AccountAddress.str() + " failed", e);
        newMessages.reset();
        ReportMailboxFailure(record.AccountAddress.str(), e);
    }
    CloseMailboxQuietly();
    return newMessages;
}

void TPlaceHolder::ReportMailboxFailure(const std::string& address, const std::exception& error) {
    std::optional<AlertReason> reason = ReasonToTell(error, POPbox.Stage());
    if (!reason)
        return;
    std::string detail = error.what();
    const uint64_t now = Environment.Monotonic();
    if (*reason == AlertReason::LoginRefused) {
        // The server's reason, when it gives one, says whether the login was really refused.
        const ServerReason server = ParseServerReason(error.what());
        switch (server.Code) {
        case RespCode::InUse:
        case RespCode::SysTemp:
            Trace("mailbox " + address + ": a failure of the moment (" +
                  (server.Code == RespCode::InUse ? "IN-USE" : "SYS/TEMP") +
                  "); the next check as usual");
            return;
        case RespCode::LoginDelay: {
            // The server's own capabilities may say how long it wants.
            const Pop3Capabilities* said = POPbox.ServerCapabilities();
            const uint64_t delay =
                LoginDelays::DelayMs(said != nullptr ? said->LoginDelaySeconds : std::nullopt);
            cycle_.Delays().Delay(address, now + delay);
            Trace("mailbox " + address +
                  ": the server asked for fewer logins (LOGIN-DELAY): "
                  "not tried again for " +
                  MinutesText(delay));
            return;
        }
        case RespCode::SysPerm:
            reason = AlertReason::ServerRefused;
            detail = ServerWordsForUser(server.Text, POPbox.Password, kMaxBalloonText);
            break;
        case RespCode::Auth:
        case RespCode::None:
            break;
        }
    }
    if (*reason == AlertReason::Unreachable && cycle_.Wake().InGrace(now)) {
        // Just after a wake the network may still be on its way: not counted, tried again.
        if (cycle_.AddRetry(address)) {
            RetryTimer.SetEnabled(true);
            Trace("mailbox " + address +
                  ": unreachable just after waking: not counted, tried "
                  "again in a minute");
        } else {
            Trace("mailbox " + address + ": unreachable just after waking: not counted");
        }
        return;
    }
    if (const auto text = Alerts.Failed(address, *reason, detail))
        QueueAlert(*text, {address, *reason, detail, {}});
}

void TPlaceHolder::CloseMailboxQuietly() {
    try {
        POPbox.CloseMailbox();
    } catch (const std::exception& e) {
        TraceCaught("closing the mailbox failed", e);
    }
}

} // namespace pw
