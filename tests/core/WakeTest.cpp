// Gaps in the agent's time: how they are found, and the one catch-up check they ask for.
#include "core/Wake.h"

#include "support/ScheduleTables.h"

#include <gtest/gtest.h>

namespace pw {
namespace {

constexpr uint64_t kMinute = WakeWatch::kTickMs;

int64_t At(int day, int hour, int minute) {
    return LocalMinuteStamp(2026, 12, day, hour, minute);
}

using test::Table;

TEST(LocalMinuteStamp, CountsAcrossDaysMonthsAndLeapYears) {
    EXPECT_EQ(LocalMinuteStamp(1, 1, 1, 0, 0), 0);
    EXPECT_EQ(At(10, 0, 0) - At(9, 23, 59), 1);
    EXPECT_EQ(LocalMinuteStamp(2027, 1, 1, 0, 0) - At(31, 0, 0), kMinutesPerDay);
    EXPECT_EQ(LocalMinuteStamp(2028, 3, 1, 0, 0) - LocalMinuteStamp(2028, 2, 28, 0, 0),
              2 * kMinutesPerDay);
}

TEST(ScheduledMinutesIn, ListsEachValidEntryOncePerDayInTheRange) {
    const auto table = Table({"7:05", "07:05", "23:30", "ab:cd", "25:00", " 6:00"});
    EXPECT_EQ(ScheduledMinutesIn(table, At(9, 7, 5), At(10, 7, 5), 10),
              (std::vector<int64_t>{At(9, 23, 30), At(10, 6, 0), At(10, 7, 5)}));
    EXPECT_TRUE(ScheduledMinutesIn(table, At(9, 7, 5), At(9, 7, 5), 10).empty());
    EXPECT_EQ(ScheduledMinutesIn(table, At(1, 0, 0), At(30, 0, 0), 4).size(), 4u);
}

TEST(WakeWatch, ATickLongAfterTheLastIsAGapAndTheResumeOfTheSameWakeIsNotAnother) {
    WakeWatch watch;
    watch.TickStarted(0, At(9, 7, 0));
    EXPECT_FALSE(watch.Tick(kMinute, At(9, 7, 1)));
    EXPECT_FALSE(watch.Tick(2 * kMinute + kMinute / 2, At(9, 7, 2))); // a late tick
    EXPECT_TRUE(watch.Tick(60 * kMinute, At(9, 8, 0)));
    EXPECT_EQ(watch.GapFrom(), At(9, 7, 2));
    EXPECT_EQ(watch.GapTo(), At(9, 8, 0));
    EXPECT_FALSE(watch.Resumed(60 * kMinute + 2000, At(9, 8, 0)));
    EXPECT_TRUE(watch.InGrace(61 * kMinute));
    EXPECT_FALSE(watch.InGrace(62 * kMinute));
    EXPECT_FALSE(watch.Tick(61 * kMinute, At(9, 8, 1)));
    // A second sleep soon after is a wake of its own.
    EXPECT_TRUE(watch.Resumed(200 * kMinute, At(9, 10, 20)));
    EXPECT_EQ(watch.GapFrom(), At(9, 8, 1));
}

TEST(WakeWatch, ResumeMessagesAloneAreOneWakeEach) {
    WakeWatch watch;
    EXPECT_TRUE(watch.Resumed(10 * kMinute, At(9, 7, 0)));
    EXPECT_FALSE(watch.Resumed(10 * kMinute + 500, At(9, 7, 0)));
    EXPECT_TRUE(watch.Resumed(20 * kMinute, At(9, 7, 10)));
}

TEST(PlanCatchUp, CountdownChecksWhenAWholeIntervalPassedElseCountsTheRealMinutes) {
    WakeWatch watch;
    watch.CheckEnded(0);
    watch.TickStarted(0, At(9, 7, 0));
    const ScheduleTable none{};
    const CheckedMinutes checked;
    EXPECT_TRUE(watch.Tick(25 * kMinute + 100, At(9, 7, 25)));
    CatchUpPlan plan = PlanCatchUp(watch, 25 * kMinute + 100, false, 30, none, checked);
    EXPECT_FALSE(plan.RunCheck);
    EXPECT_EQ(plan.MinutesElapsed, 25);
    plan = PlanCatchUp(watch, 30 * kMinute, false, 30, none, checked);
    EXPECT_TRUE(plan.RunCheck);
}

TEST(PlanCatchUp, ScheduleChecksOnceForMinutesTheGapHeldThatNoCheckServed) {
    WakeWatch watch;
    watch.TickStarted(0, At(9, 7, 0));
    ASSERT_TRUE(watch.Tick(600 * kMinute, At(9, 17, 0)));
    const auto table = Table({"07:00", "12:00", "13:00", "17:00", "18:00"});
    CheckedMinutes checked;
    checked.Add(At(9, 7, 0)); // checked before the sleep
    checked.Add(At(9, 12, 0));
    const CatchUpPlan plan = PlanCatchUp(watch, 600 * kMinute, true, 1, table, checked);
    EXPECT_TRUE(plan.RunCheck);
    EXPECT_EQ(plan.Missed, (std::vector<int64_t>{At(9, 13, 0), At(9, 17, 0)}));
    for (const int64_t stamp : plan.Missed)
        checked.Add(stamp);
    EXPECT_FALSE(PlanCatchUp(watch, 600 * kMinute, true, 1, table, checked).RunCheck);
}

TEST(CheckedMinutes, KeepsTwoDays) {
    CheckedMinutes checked;
    checked.Add(At(1, 7, 0));
    checked.Add(At(2, 7, 0));
    EXPECT_TRUE(checked.Contains(At(1, 7, 0)));
    checked.Add(At(3, 7, 1));
    EXPECT_FALSE(checked.Contains(At(1, 7, 0)));
    EXPECT_TRUE(checked.Contains(At(2, 7, 0)));
}

} // namespace
} // namespace pw
