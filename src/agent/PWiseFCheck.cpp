// The agent's check cycle: the minute tick, the scheduled check and the client's check over the
// watched mailboxes, dialling, the retrieval and the resting and busy tray pictures; see PWiseF.h.
#include "PWiseF.h"

#include <optional>
#include <utility>

#include "agent/Settings.h"
#include "core/Errors.h"
#include "core/ScopeExit.h"
#include "core/Text.h"
#include "win/ExceptionHook.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

void TPlaceHolder::RefreshCountdownLabel() {
    SetLabel3(CountdownText(CheckInterval - MinutesElapsed));
}

bool TPlaceHolder::AnyCheckRunning() const {
    return dueCheckRunning_ || MailboxesInUse();
}

bool TPlaceHolder::MailboxesInUse() const {
    return Shared.CheckRunning || clientCheckRunning_;
}

void TPlaceHolder::ExeTimerTimer() {
    // One check at a time: a tick that a "START" let through, or "Check Now!", while a check or
    // its retrieval runs is dropped.
    if (AnyCheckRunning())
        return;
    bool due = false;
    if (!IsScheduleTable(ScheduleType)) {
        ++MinutesElapsed;
        if (StatusVisible())
            GuardedCall([this] { RefreshCountdownLabel(); });
        due = MinutesElapsed >= CheckInterval;
    } else {
        const SYSTEMTIME now = Environment.Now();
        due = ScheduleDue(ScheduleTimes,
                          FormatHourMinute(now.wHour, now.wMinute, Environment.TimeSeparator()));
    }
    if (!due)
        return;

    Trace("check due");
    // A failure the check does not handle itself (the dial-up library failing while it looks
    // for a connection, a client that cannot be started) goes to the exception handler; the
    // check still ends as every check does, or the minute tick would stay off for good.
    try {
        RunDueCheck();
    } catch (const std::exception& e) {
        Trace(std::string("check failed: ") + e.what());
        HandleUncaughtException(e);
    }
}

void TPlaceHolder::RunDueCheck() {
    dueCheckRunning_ = true;
    ExeTimer.SetEnabled(false);
    const ScopeExit end([this] { EndDueCheck(); });
    SetToolTip(kTipChecking);
    if (!CheckAllMailboxes())
        return;
    if (BackgroundMode) {
        SetToolTip(kTipAsking);
        ClientLink->AskClientToRetrieve(Shared.PendingAccounts);
        SetToolTip(kTipIdle);
    } else {
        RunStandAloneRetrieval();
    }
}

// The end of a due check and of the retrieval it started, however they were left: nothing in
// here may throw.
void TPlaceHolder::EndDueCheck() {
    Shared.CheckRunning = false;
    EndBusyAnimation();
    try {
        HangUpDialUp();
    } catch (const std::exception& e) {
        Trace(std::string("hang up failed: ") + e.what());
    }
    SetToolTip(ArrivedCount > 0 ? kTipRetrieved : kTipIdle);
    MinutesElapsed = 0;
    SetLabel3(CountdownText(CheckInterval));
    // A "CHECK" that came during this check keeps the minute tick off until "START".
    const bool held = std::exchange(checkCommandDuringDueCheck_, false) && Shared.StopRequested;
    ExeTimer.SetEnabled(!held);
    EnableMenuItem(kCheckNow1, true);
    EnableMenuItem(kStatus1, true);
    dueCheckRunning_ = false;
    if (!deferredChecks_.empty())
        PostMessageA(form_.Handle(), kRunDeferredChecksMessage, 0, 0);
}

void TPlaceHolder::EndBusyAnimation() {
    if (!Timer2.Enabled())
        return;
    Timer2.SetEnabled(false);
    ShowRestingIcon();
}

void TPlaceHolder::RunStandAloneRetrieval() {
    SetToolTip(kTipExecuting);
    shoot.ShowWindow = TShowWindow::swShowMinimized;
    shoot.SetDirectory(ProgramDir);
    shoot.Command = "CXsystem.exe /PWGM";
    shoot.Wait = true;
    Shared.ClientFinished = false;
    Trace("start client: CXsystem.exe /PWGM");
    shoot.Execute();
    EnableMenuItem(kStatus1, false);
    EnableMenuItem(kCheckNow1, false);
    WaitUntil([this] { return Shared.ClientFinished.load(); });
    HangUpDialUp();
    const auto flag = ReadFileText(ProgramDir + "PWise.flg");
    ArrivedCount = flag ? FlagFileCount(*flag) : 0;
    Trace("client ended: " + std::to_string(ArrivedCount) + " messages retrieved");
    if (ArrivedCount > 0) {
        Application.SetIcon(Image(kImageRetrieved));
        SetToolTip(kTipRetrieved);
    }
    GuardedCall([this] {
        if (StatusVisible() && !IsScheduleTable(ScheduleType))
            RefreshCountdownLabel();
        if (ArrivedCount > 0)
            SetLabel8(ArrivedText(ArrivedCount));
    });
}

void TPlaceHolder::PrepareMailbox(const AccountRecord& record) {
    CloseMailboxQuietly();
    POPbox.Password = record.AccountPassword.str();
    POPbox.Server = record.AccountServer.str();
    POPbox.UserName = record.AccountUser.str();
    const ServerSettings security = AgentIni.TlsFor(POPbox.Server);
    POPbox.Tls = security.Mode;
    POPbox.TlsPin = security.Pin;
    POPbox.AllowClearPasswords = security.AllowClearPasswords;
    POPbox.SetTimeOut(Environment.MailboxTimeOut);
    POPbox.NewMessageSize = 0;
    const std::string checking = CheckingText(record.AccountAddress.str());
    SetLabel3(checking);
    SetToolTip(checking);
}

// Twice: what the first round leads to (a command poked in the meantime, a tray click's menu)
// is handled before the next session starts, so that "STOP" is seen before the next mailbox.
void TPlaceHolder::PumpBetweenMailboxes() {
    ProcessMessages();
    ProcessMessages();
}

bool TPlaceHolder::IsWatched(const AccountRecord& record) {
    return record.AccountAddress.str().find('@') != std::string::npos;
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
        ShowAlert(Alerts.Succeeded(record.AccountAddress.str(), POPbox.TlsPinnedDaysLeft()));
    } catch (const std::exception& e) {
        Trace("mailbox " + record.AccountAddress.str() + " failed: " + e.what());
        newMessages.reset();
        ReportMailboxFailure(record.AccountAddress.str(), e);
    }
    CloseMailboxQuietly();
    return newMessages;
}

namespace {
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

void TPlaceHolder::ReportMailboxFailure(const std::string& address, const std::exception& error) {
    const std::optional<AlertReason> reason = ReasonToTell(error, POPbox.Stage());
    if (!reason)
        return;
    ShowAlert(Alerts.Failed(address, *reason, error.what()));
}

void TPlaceHolder::ShowAlert(const std::optional<std::string>& text) {
    if (!text)
        return;
    Trace("alert: " + *text);
    if (AgentIni.Balloons)
        TrayIcon1.ShowBalloon(std::string(kAlertTitle), *text);
}

void TPlaceHolder::CloseMailboxQuietly() {
    try {
        POPbox.CloseMailbox();
    } catch (const std::exception&) {
    }
}

bool TPlaceHolder::CheckAllMailboxes() {
    Shared.CheckRunning = true;
    Shared.PendingAccounts.clear();
    bool result = false;
    StartBusyAnimation();
    if (StatusVisible())
        GuardedCall([this] { Schedule->Close(); });
    EnableMenuItem(kStatus1, false);
    EnableMenuItem(kCheckNow1, false);

    if (!DialForCheck()) {
        Shared.CheckRunning = false;
        return false;
    }
    ProcessMessages();
    if (BackgroundMode)
        ClientLink->SendToClient("CHECKSTART");

    for (int i = 0; i < Accounts.AccountCount; ++i) {
        PumpBetweenMailboxes();
        if (Shared.StopRequested)
            break;
        const AccountRecord& record = Accounts.Records[i];
        const std::string address = record.AccountAddress.str();
        if (!IsWatched(record))
            continue;
        PrepareMailbox(record);
        ProcessMessages();
        const auto newMessages = CountNewMail(record, true);
        if (!newMessages)
            continue;
        Trace("mailbox " + address + ": " + std::to_string(*newMessages) + " new");
        if (*newMessages == 0)
            continue;
        if (!BackgroundMode) {
            SetLabel3(NewMailWaitingText(address));
            Fire(Environment.AsteriskSound);
            Shared.CheckRunning = false;
            FinishCheck();
            return true;
        }
        Shared.PendingAccounts += "^" + address;
    }
    CloseMailboxQuietly();

    if (Shared.StopRequested) {
        Shared.CheckRunning = false;
        FinishCheck();
        return false;
    }
    EnableMenuItem(kStatus1, true);
    EnableMenuItem(kCheckNow1, true);
    if (!Shared.PendingAccounts.empty())
        Shared.PendingAccounts.erase(0, 1);
    if (BackgroundMode)
        result = !Shared.PendingAccounts.empty();
    FinishCheck();
    Shared.CheckRunning = false;
    if (BackgroundMode)
        ClientLink->SendToClient("CHECKSTOP");
    return result;
}

void TPlaceHolder::CheckForClient() {
    Shared.PendingAccounts.clear();
    Shared.ReportLines.clear();
    StartBusyAnimation();
    try {
        if (!DialForCheck())
            return;
        ProcessMessages();
        for (int i = 0; i < Accounts.AccountCount; ++i) {
            PumpBetweenMailboxes();
            const AccountRecord& record = Accounts.Records[i];
            const std::string address = record.AccountAddress.str();
            if (!IsWatched(record))
                continue;
            PrepareMailbox(record);
            ClientLink->SendToClient("CHECKNOTE:" + CheckingText(address));
            ProcessMessages();
            const auto newMessages = CountNewMail(record, false);
            if (!newMessages || *newMessages == 0)
                continue;
            const std::string entry =
                ReportEntry(record.AccountUser.str(), POPbox.Server, POPbox.UserName, address,
                            POPbox.Password, *newMessages);
            if (!Shared.PendingAccounts.empty())
                Shared.PendingAccounts += "|";
            Shared.PendingAccounts += entry;
            Shared.ReportLines.push_back(entry);
            Trace("report: " + address + " has " + std::to_string(*newMessages) + " new");
        }
        CloseMailboxQuietly();
    } catch (const std::exception& e) {
        Trace(std::string("client check failed: ") + e.what());
    }
    FinishCheck();
    ClientLink->SendToClient("CHECK:" + Trim(Shared.PendingAccounts));
}

bool TPlaceHolder::DialForCheck() {
    if (ConnectDialUp())
        return true;
    HangUpDialUp();
    if (ConnectDialUp())
        return true;
    EnableMenuItem(kStatus1, true);
    EnableMenuItem(kCheckNow1, true);
    FinishCheck();
    return false;
}

bool TPlaceHolder::ConnectDialUp() {
    if (Trim(DialEntry).empty() || Trim(DialUserName).empty() || Trim(DialPassword).empty())
        NoDial = true;
    if (NoDial)
        return true;
    if (DialUp.IsConnected())
        return true;
    WaitMilliseconds(500);
    DialUp.SetService(DialEntry);
    DialUp.UserName = DialUserName;
    DialUp.Password = DialPassword;
    bool succeeded = false;
    for (int attempt = 1; attempt <= 5; ++attempt) {
        try {
            Trace("dial " + DialEntry + ", attempt " + std::to_string(attempt));
            DialUp.Connect();
        } catch (const std::exception& e) {
            Trace(std::string("dial failed: ") + e.what());
            DialUp.Failed = true;
        }
        succeeded = !DialUp.Failed;
        if (!succeeded) {
            try {
                DialUp.Cancel();
            } catch (const std::exception&) {
            }
            WaitMilliseconds(1000);
        }
        if (succeeded || DialUp.Cancelled)
            break;
    }
    if (succeeded && DialUp.Cancelled)
        return false;
    return succeeded;
}

void TPlaceHolder::HangUpDialUp() {
    if (!NoDial && DialUp.Dialled) {
        Trace("hang up");
        DialUp.HangUp();
    }
}

void TPlaceHolder::StartBusyAnimation() {
    Shared.AnimationFrame = 0;
    Timer2.SetEnabled(true);
}

void TPlaceHolder::Timer2Timer() {
    SetTrayIcon(Image(kImageBusyFirst + Shared.AnimationFrame));
    Shared.AnimationFrame += 1;
    if (Shared.AnimationFrame > 8)
        Shared.AnimationFrame = 0;
}

void TPlaceHolder::FinishCheck() {
    Timer2.SetEnabled(false);
    Timer1Timer();
}

void TPlaceHolder::ShowRestingIcon() {
    if (BackgroundMode)
        SetTrayIcon(ArrivedCount <= 0 ? Image(kImageBackgroundIdle) : Image(kImageBackground));
    else
        SetTrayIcon(ArrivedCount <= 0 ? Application.Icon() : Image(kImageRetrieved));
}

void TPlaceHolder::Timer1Timer() {
    ShowRestingIcon();
    if (!BackgroundMode && !FileExists(ProgramDir + "PWise.flg")) {
        Trace("flag file gone");
        FormClose();
    }
}

} // namespace pw
