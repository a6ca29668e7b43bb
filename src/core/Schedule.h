// Times of day of the check schedule ("hh:nn") and the test whether one is due now.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace pw {

// Hour and minute of a schedule time; both -1 when the text is not one.
struct ScheduleTime {
    int Hour = -1;
    int Minute = -1;
    bool IsValid() const { return Hour != -1 && Minute != -1; }
};

// Splits at the first ":" into the hour before it and the minute of the two characters after
// it, each a strict decimal integer. "7:05", "07:05" and " 7:05" all give 7 and 5.
ScheduleTime SplitScheduleTime(std::string_view text);

// A schedule entry as it is compared and stored back: trimmed, then cut to 5 characters.
std::string NormalizeScheduleEntry(std::string_view entry);

// True when the normalized entry is a valid time equal to now.
bool ScheduleEntryMatches(std::string_view entry, ScheduleTime now);

// The schedule table of the settings file: 40 entries of at most 5 characters.
// The client's schedule type "2" selects the schedule table; any other value counts down.
inline bool IsScheduleTable(std::string_view scheduleType) {
    return scheduleType == "2";
}

constexpr size_t kScheduleEntries = 40;
using ScheduleTable = std::array<std::string, kScheduleEntries>;

// "hh" + separator + "nn" with two-digit hour and minute, as the clock is shown to the user.
std::string FormatHourMinute(int hour, int minute, std::string_view separator);

// The first entry that is due at the given "hh:nn" text (its index), or nothing.
std::optional<size_t> FirstDueEntry(const ScheduleTable& times, std::string_view nowText);

// Normalizes the first count entries in place, as a scan up to them leaves them.
void NormalizeScheduleEntries(ScheduleTable& times, size_t count);

} // namespace pw
