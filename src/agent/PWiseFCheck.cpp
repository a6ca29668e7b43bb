// The agent's due check: the minute tick, the scheduled check over the watched mailboxes, the
// retrieval it asks for, and dialling; see PWiseF.h. The walk over the mailboxes is in
// PWiseFWalk.cpp, what the tray shows in PWiseFTray.cpp.
#include "PWiseF.h"

#include "agent/Settings.h"
#include "core/ScopeExit.h"
#include "core/Text.h"
#include "win/ExceptionHook.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

namespace {
// The line is given a moment before each dial, and a failed attempt a pause before the next.
constexpr DWORD kPauseBeforeDialMs = 500;
constexpr int kDialAttempts = 5;
constexpr DWORD kPauseAfterFailedDialMs = 1000;

std::string JoinedByCaret(const std::vector<std::string>& addresses) {
    std::string list;
    for (const std::string& address : addresses)
        list += (list.empty() ? "" : "^") + address;
    return list;
}
} // namespace

void TPlaceHolder::ExeTimerTimer() {
    MinuteTick(true);
}

void TPlaceHolder::MinuteTick(bool fromTimer) {
    if (cycle_.Admit(CheckCycle::Request::DueCheck) == CheckCycle::Admission::Dropped) {
        Trace("minute tick: a check runs, which covers it");
        return;
    }
    // Only the timer's tick measures time: a tick far later than the one before means the
    // agent did not run meanwhile.
    if (fromTimer) {
        if (CatchUpTimer.Enabled()) {
            cycle_.Wake().Tick(Environment.Monotonic(), LocalMinute());
            Trace("minute tick: the catch-up check follows");
            return;
        }
        if (cycle_.Wake().Tick(Environment.Monotonic(), LocalMinute())) {
            NoteWake("a minute tick came " + std::to_string(cycle_.Wake().Gap() / 1000) +
                     " s after the one before");
            return;
        }
    }
    bool due = false;
    if (!IsScheduleTable(ScheduleType)) {
        ++MinutesElapsed;
        if (StatusVisible())
            GuardedCall([this] { RefreshCountdownLabel(); });
        due = MinutesElapsed >= CheckInterval;
    } else {
        const SYSTEMTIME now = Environment.Now();
        const auto match = FirstDueEntry(
            ScheduleTimes, FormatHourMinute(now.wHour, now.wMinute, Environment.TimeSeparator()));
        // The scan stores the entries it looked at back trimmed; the status window lists them so.
        NormalizeScheduleEntries(ScheduleTimes, match ? *match + 1 : kScheduleEntries);
        due = match.has_value();
        if (due && fromTimer) {
            // A minute a check has served (a catch-up after a wake, a clock set back) is not
            // checked again.
            if (cycle_.Served().Contains(LocalMinute())) {
                Trace("minute tick: this scheduled minute was checked already");
                return;
            }
            cycle_.Served().Add(LocalMinute());
        }
    }
    if (due)
        RunGuardedDueCheck(nullptr);
}

void TPlaceHolder::RunGuardedDueCheck(const std::set<std::string>* only) {
    Trace("check due");
    // A failure the check does not handle itself (the dial-up library failing while it looks
    // for a connection, a client that cannot be started) goes to the exception handler; the
    // check still ends as every check does, or the minute tick would stay off for good.
    try {
        RunDueCheck(only);
    } catch (const std::exception& e) {
        HandleUncaughtException(e, "check failed");
    }
}

void TPlaceHolder::RunDueCheck(const std::set<std::string>* only) {
    // A full check serves the catch-up that a wake asked for.
    if (only == nullptr && CatchUpTimer.Enabled()) {
        CatchUpTimer.SetEnabled(false);
        cycle_.ServeCatchUp();
        Trace("catch-up check: served by this check");
    }
    cycle_.SetDue(CheckCycle::DuePhase::Walking);
    const ScopeExit end([this] { EndDueCheck(); });
    ShowCheckState();
    SetToolTip(kTipChecking);
    if (!CheckAllMailboxes(only))
        return;
    if (BackgroundMode) {
        SetToolTip(kTipAsking);
        ClientLink->AskClientToRetrieve(JoinedByCaret(cycle_.Report()));
        SetToolTip(kTipIdle);
    } else {
        RunStandAloneRetrieval();
    }
}

// The end of a due check and of the retrieval it started, however they were left: nothing in
// here may throw.
void TPlaceHolder::EndDueCheck() {
    cycle_.EndDueCheck();
    try {
        HangUpDialUp();
    } catch (const std::exception& e) {
        TraceCaught("hang up failed", e);
    }
    MinutesElapsed = 0;
    cycle_.Wake().CheckEnded(Environment.Monotonic());
    SetLabel3(CountdownText(CheckInterval));
    ShowCheckState(CheckEnd::DueCheck);
    PostQueuedChecks();
}

// The walk of a due check. True when the client is to retrieve: the cycle is then in the phase
// of that retrieval.
bool TPlaceHolder::CheckAllMailboxes(const std::set<std::string>* only) {
    cycle_.StartReport();
    if (StatusVisible())
        GuardedCall([this] { Schedule->Close(); });
    if (!DialForCheck()) {
        cycle_.SetDue(CheckCycle::DuePhase::Finishing);
        FinishCheck();
        return false;
    }
    ProcessMessages();
    if (BackgroundMode)
        ClientLink->SendToClient("CHECKSTART");

    WalkPolicy policy;
    policy.StopAtFirstNew = !BackgroundMode;
    policy.PumpBeforeCounting = true;
    policy.HonourHalt = true;
    policy.Only = only;
    const WalkEnd end = WalkMailboxes(policy, [this](const AccountRecord& record, int32_t) {
        const std::string address = record.AccountAddress.str();
        if (BackgroundMode) {
            cycle_.AddToReport(address);
            return;
        }
        SetLabel3(NewMailWaitingText(address));
        Fire(Environment.AsteriskSound);
    });

    if (end == WalkEnd::FoundNew) {
        cycle_.SetDue(CheckCycle::DuePhase::ClientProgram);
        FinishCheck();
        return true;
    }
    // A halted check reports nothing to the client.
    const bool retrieve = end == WalkEnd::Completed && !cycle_.Report().empty();
    cycle_.SetDue(retrieve ? CheckCycle::DuePhase::AskingClient : CheckCycle::DuePhase::Finishing);
    FinishCheck();
    if (BackgroundMode && end == WalkEnd::Completed)
        ClientLink->SendToClient("CHECKSTOP");
    return retrieve;
}

void TPlaceHolder::RunStandAloneRetrieval() {
    SetToolTip(kTipExecuting);
    shoot.ShowWindow = TShowWindow::swShowMinimized;
    shoot.SetDirectory(ProgramDir);
    shoot.Command = "CXsystem.exe /PWGM";
    shoot.Wait = true;
    cycle_.SetClientProgramEnded(false);
    Trace("start client: CXsystem.exe /PWGM");
    shoot.Execute();
    WaitUntil([this] { return cycle_.ClientProgramEnded(); });
    HangUpDialUp();
    // The client may still hold the flag file a moment while it writes the count: the tries pump,
    // so that the tray and the client's commands are answered meanwhile. One held for longer
    // counts as no message retrieved; it is there, so the agent stays.
    DWORD error = ERROR_SUCCESS;
    const auto flag = ReadFileText(ProgramDir + "PWise.flg", &error, [this](DWORD milliseconds) {
        WaitMilliseconds(milliseconds);
        return !ended_ && !ApplicationTerminated();
    });
    if (!flag)
        TraceUnreadable("PWise.flg", error);
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

bool TPlaceHolder::DialForCheck() {
    if (ConnectDialUp())
        return true;
    HangUpDialUp();
    return ConnectDialUp();
}

bool TPlaceHolder::ConnectDialUp() {
    if (Trim(DialEntry).empty() || Trim(DialUserName).empty() || Trim(DialPassword).empty())
        NoDial = true;
    if (NoDial)
        return true;
    if (DialUp.IsConnected())
        return true;
    WaitMilliseconds(kPauseBeforeDialMs);
    DialUp.SetService(DialEntry);
    DialUp.UserName = DialUserName;
    DialUp.Password = DialPassword;
    bool succeeded = false;
    for (int attempt = 1; attempt <= kDialAttempts; ++attempt) {
        try {
            Trace("dial " + DialEntry + ", attempt " + std::to_string(attempt));
            DialUp.Connect();
        } catch (const std::exception& e) {
            TraceCaught("dial failed", e);
            DialUp.Failed = true;
        }
        succeeded = !DialUp.Failed;
        if (!succeeded) {
            try {
                DialUp.Cancel();
            } catch (const std::exception& e) {
                TraceCaught("cancelling the dial failed", e);
            }
            WaitMilliseconds(kPauseAfterFailedDialMs);
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

} // namespace pw
