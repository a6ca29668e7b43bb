// Schedule times; see Schedule.h.
#include "Schedule.h"

#include "Text.h"

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

} // namespace pw
