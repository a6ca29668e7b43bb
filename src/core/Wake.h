// Time that passed without the agent: a computer that slept or a process that was frozen. The
// agent learns of it from the system's resume message or from a minute tick that comes far
// later than a tick; then one catch-up check makes up for what the gap missed, and for a short
// grace the network is given time to come back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "Schedule.h"

namespace pw {

// A local date and time as minutes counted from 1 January of the year 1 (proleptic Gregorian
// calendar), so that minutes of different days compare and subtract.
int64_t LocalMinuteStamp(int year, int month, int day, int hour, int minute);
constexpr int64_t kMinutesPerDay = 24 * 60;

// The scheduled minutes of the table in (from, to], oldest first, at most limit of them.
std::vector<int64_t> ScheduledMinutesIn(const ScheduleTable& table, int64_t from, int64_t to,
                                        size_t limit);

// Scheduled minutes that a check has served, so that none is checked twice (a clock set back,
// a catch-up check that covered the minute). Only the last two days are kept.
class CheckedMinutes {
public:
    bool Contains(int64_t stamp) const { return stamps_.count(stamp) != 0; }
    void Add(int64_t stamp);

private:
    std::set<int64_t> stamps_;
};

// The monotonic clock (milliseconds that run on through sleep) and local time of the minute tick
// and of the resume message; what a gap between them asks for.
class WakeWatch {
public:
    static constexpr uint64_t kTickMs = 60 * 1000;
    // A tick this much later than the one before: the agent did not run meanwhile.
    static constexpr uint64_t kGapMs = kTickMs * 5 / 2;
    // After a wake, failures to reach a server are taken for a network that is still coming up.
    static constexpr uint64_t kGraceMs = 2 * kTickMs;

    // The countdown starts again here: at start-up and at the end of every due check.
    void CheckEnded(uint64_t mono) { lastCheck_ = mono; }
    // The minute tick (re)starts now; ticks are measured from here.
    void TickStarted(uint64_t mono, int64_t local);
    // A minute tick. True when it comes after a gap, which it notes as a wake.
    bool Tick(uint64_t mono, int64_t local);
    // The system's resume message. False when it belongs to a wake already noted (the system
    // sends two for a wake the user asked for) and there has been no gap since.
    bool Resumed(uint64_t mono, int64_t local);
    // The clock or the time zone was changed: local times before now no longer compare.
    void ClockChanged(int64_t local) { lastLocal_ = local; }

    // Whole minutes since the countdown last started.
    int32_t MinutesSinceCheck(uint64_t mono) const;
    bool InGrace(uint64_t mono) const { return awake_ && mono - lastWake_ < kGraceMs; }
    // The local minutes of the last wake's gap: (GapFrom, GapTo].
    int64_t GapFrom() const { return gapFrom_; }
    int64_t GapTo() const { return gapTo_; }
    uint64_t Gap() const { return gapMs_; }

private:
    void Wake(uint64_t mono, int64_t local);

    uint64_t lastCheck_ = 0;
    uint64_t lastTick_ = 0;
    int64_t lastLocal_ = 0;
    bool ticking_ = false;
    bool awake_ = false; // a wake has been noted
    uint64_t lastWake_ = 0;
    int64_t gapFrom_ = 0;
    int64_t gapTo_ = 0;
    uint64_t gapMs_ = 0;
};

// What the catch-up after a wake does.
struct CatchUpPlan {
    bool RunCheck = false;
    // Countdown mode without a check: the minutes that really passed since the last one.
    int32_t MinutesElapsed = 0;
    // Schedule-table mode: the scheduled minutes the gap held that no check has served.
    std::vector<int64_t> Missed;
};

// Countdown mode: a check when a whole interval has passed since the last one, else the
// countdown goes on with the real minutes. Schedule-table mode: one check when the gap held a
// scheduled minute not yet served.
CatchUpPlan PlanCatchUp(const WakeWatch& watch, uint64_t mono, bool scheduleTable,
                        int32_t checkInterval, const ScheduleTable& table,
                        const CheckedMinutes& checked);

} // namespace pw
