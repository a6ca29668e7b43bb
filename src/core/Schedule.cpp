// Schedule times; see Schedule.h.
#include "Schedule.h"

#include "Text.h"

#include <algorithm>
#include <cstdio>

namespace pw {

namespace {

constexpr size_t kEntryLength = 5;
constexpr size_t kMinuteLength = 2;

} // namespace

ScheduleTime SplitScheduleTime(std::string_view text) {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return {};
    const auto hour = TryStrToInt(text.substr(0, colon));
    const auto minute = TryStrToInt(text.substr(colon + 1, kMinuteLength));
    if (!hour || !minute)
        return {};
    return {*hour, *minute};
}

std::string NormalizeScheduleEntry(std::string_view entry) {
    return std::string(TrimView(entry).substr(0, kEntryLength));
}

bool ScheduleEntryMatches(std::string_view entry, ScheduleTime now) {
    const ScheduleTime time = SplitScheduleTime(NormalizeScheduleEntry(entry));
    return time.IsValid() && time.Hour == now.Hour && time.Minute == now.Minute;
}

std::string FormatHourMinute(int hour, int minute, std::string_view separator) {
    char hh[16];
    char nn[16];
    snprintf(hh, sizeof hh, "%02d", hour);
    snprintf(nn, sizeof nn, "%02d", minute);
    return std::string(hh) + std::string(separator) + nn;
}

std::optional<size_t> FirstDueEntry(const ScheduleTable& times, std::string_view nowText) {
    const ScheduleTime now = SplitScheduleTime(NormalizeScheduleEntry(nowText));
    for (size_t i = 0; i < times.size(); ++i)
        if (ScheduleEntryMatches(times[i], now))
            return i;
    return std::nullopt;
}

void NormalizeScheduleEntries(ScheduleTable& times, size_t count) {
    for (size_t i = 0; i < std::min(count, times.size()); ++i)
        times[i] = NormalizeScheduleEntry(times[i]);
}

} // namespace pw
