// Time that passed without the agent: the system's resume message, a minute tick long after
// the one before, a changed clock; the one catch-up check a wake asks for and the retry of the
// servers that a network still coming up could not reach; see PWiseF.h.
#include "PWiseF.h"

#include "win/ExceptionHook.h"
#include "win/Trace.h"

namespace pw {

int64_t TPlaceHolder::LocalMinute() const {
    const SYSTEMTIME now = Environment.Now();
    return LocalMinuteStamp(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute);
}

void TPlaceHolder::PowerBroadcast(WPARAM event) {
    if (event != PBT_APMRESUMEAUTOMATIC && event != PBT_APMRESUMESUSPEND)
        return;
    // A wake the user asked for brings both messages: the second belongs to the first.
    if (cycle_.Wake().Resumed(Environment.Monotonic(), LocalMinute()))
        NoteWake("the system resumed");
}

void TPlaceHolder::TimeChange() {
    cycle_.Wake().ClockChanged(LocalMinute());
    const SYSTEMTIME now = Environment.Now();
    Trace("clock changed: the schedule follows local time, now " +
          FormatHourMinute(now.wHour, now.wMinute, ":"));
}

void TPlaceHolder::NoteWake(const std::string& how) {
    cycle_.NewWake();
    Trace("awake: " + how);
    if (!started_)
        return;
    const bool schedule = IsScheduleTable(ScheduleType);
    const CatchUpPlan plan = PlanCatchUp(cycle_.Wake(), Environment.Monotonic(), schedule,
                                         CheckInterval, ScheduleTimes, cycle_.Served());
    if (!schedule) {
        MinutesElapsed = plan.MinutesElapsed;
        if (StatusVisible())
            GuardedCall([this] { RefreshCountdownLabel(); });
    }
    const std::string what =
        !schedule ? std::to_string(plan.MinutesElapsed) + " minutes since the last check"
        : plan.Missed.size() == 1
            ? std::string("1 scheduled time was missed")
            : std::to_string(plan.Missed.size()) + " scheduled times were missed";
    if (!plan.RunCheck) {
        Trace("awake: " + what + ": no catch-up check");
        return;
    }
    cycle_.SetCatchUp(plan.Missed);
    CatchUpTimer.SetEnabled(true);
    Trace("awake: " + what + ": a catch-up check in " +
          std::to_string(CatchUpTimer.Interval() / 1000) + " s");
}

void TPlaceHolder::CatchUpTimerTimer() {
    CatchUpTimer.SetEnabled(false);
    cycle_.ServeCatchUp();
    if (cycle_.TickHeld()) {
        Trace("catch-up check: none while the client holds checking");
        return;
    }
    if (cycle_.Admit(CheckCycle::Request::DueCheck) == CheckCycle::Admission::Dropped) {
        Trace("catch-up check: a check runs, which covers it");
        return;
    }
    Trace("catch-up check after waking");
    RunGuardedDueCheck(nullptr);
}

void TPlaceHolder::RetryTimerTimer() {
    // While a check runs the retry waits for the next round.
    if (cycle_.Busy())
        return;
    RetryTimer.SetEnabled(false);
    const std::set<std::string> mailboxes = cycle_.TakeRetries();
    if (mailboxes.empty() || cycle_.TickHeld())
        return;
    std::string list;
    for (const std::string& mailbox : mailboxes)
        list += (list.empty() ? "" : ", ") + mailbox;
    Trace("retry after waking: " + list);
    RunGuardedDueCheck(&mailboxes);
}

} // namespace pw
