// Gaps in the agent's time and the catch-up after them; see Wake.h.
#include "Wake.h"

#include <algorithm>
#include <limits>

namespace pw {

namespace {
// Days from 1 January of the year 1 to the given date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t year, int month, int day) {
    // March-based years put the leap day at the end of the year.
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 306; // day 0 is 1 January 1
}

constexpr int64_t kKeptMinutes = 2 * kMinutesPerDay;
} // namespace

int64_t LocalMinuteStamp(int year, int month, int day, int hour, int minute) {
    return DaysFromCivil(year, month, day) * kMinutesPerDay + hour * 60 + minute;
}

std::vector<int64_t> ScheduledMinutesIn(const ScheduleTable& table, int64_t from, int64_t to,
                                        size_t limit) {
    std::vector<int64_t> minutes;
    if (to <= from || limit == 0)
        return minutes;
    const int64_t dayOfFrom = from - ((from % kMinutesPerDay) + kMinutesPerDay) % kMinutesPerDay;
    for (const std::string& entry : table) {
        const ScheduleTime time = SplitScheduleTime(NormalizeScheduleEntry(entry));
        if (!time.IsValid() || time.Hour < 0 || time.Hour > 23 || time.Minute < 0 ||
            time.Minute > 59)
            continue;
        int64_t stamp = dayOfFrom + time.Hour * 60 + time.Minute;
        if (stamp <= from)
            stamp += kMinutesPerDay;
        for (size_t n = 0; stamp <= to && n < limit; ++n, stamp += kMinutesPerDay)
            minutes.push_back(stamp);
    }
    std::sort(minutes.begin(), minutes.end());
    minutes.erase(std::unique(minutes.begin(), minutes.end()), minutes.end());
    if (minutes.size() > limit)
        minutes.resize(limit);
    return minutes;
}

void CheckedMinutes::Add(int64_t stamp) {
    stamps_.insert(stamp);
    const int64_t oldest = *stamps_.rbegin() - kKeptMinutes;
    stamps_.erase(stamps_.begin(), stamps_.lower_bound(oldest));
}

void WakeWatch::TickStarted(uint64_t mono, int64_t local) {
    lastTick_ = mono;
    lastLocal_ = local;
    ticking_ = true;
}

bool WakeWatch::Tick(uint64_t mono, int64_t local) {
    if (ticking_ && mono - lastTick_ > kGapMs) {
        Wake(mono, local);
        return true;
    }
    TickStarted(mono, local);
    return false;
}

bool WakeWatch::Resumed(uint64_t mono, int64_t local) {
    const bool gapSinceTick = ticking_ && mono - lastTick_ > kGapMs;
    if (awake_ && mono - lastWake_ < kGapMs && !gapSinceTick)
        return false;
    Wake(mono, local);
    return true;
}

void WakeWatch::Wake(uint64_t mono, int64_t local) {
    gapFrom_ = lastLocal_;
    gapTo_ = local;
    gapMs_ = mono - lastTick_;
    awake_ = true;
    lastWake_ = mono;
    lastTick_ = mono;
    lastLocal_ = local;
}

int32_t WakeWatch::MinutesSinceCheck(uint64_t mono) const {
    const uint64_t minutes = (mono - lastCheck_) / kTickMs;
    return static_cast<int32_t>(
        std::min<uint64_t>(minutes, static_cast<uint64_t>(std::numeric_limits<int32_t>::max())));
}

CatchUpPlan PlanCatchUp(const WakeWatch& watch, uint64_t mono, bool scheduleTable,
                        int32_t checkInterval, const ScheduleTable& table,
                        const CheckedMinutes& checked) {
    // More than a day of scheduled minutes all ask for the same one check.
    constexpr size_t kMissedListed = 2 * kScheduleEntries;
    CatchUpPlan plan;
    if (!scheduleTable) {
        plan.MinutesElapsed = watch.MinutesSinceCheck(mono);
        plan.RunCheck = plan.MinutesElapsed >= checkInterval;
        return plan;
    }
    for (const int64_t stamp :
         ScheduledMinutesIn(table, watch.GapFrom(), watch.GapTo(), kMissedListed))
        if (!checked.Contains(stamp))
            plan.Missed.push_back(stamp);
    plan.RunCheck = !plan.Missed.empty();
    return plan;
}

} // namespace pw
