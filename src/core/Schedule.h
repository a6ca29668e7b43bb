// Times of day of the check schedule ("hh:nn") and the test whether one is due now.
#pragma once

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

} // namespace pw
