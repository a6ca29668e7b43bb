// The monotonic clock; see Clock.h.
#include "Clock.h"

#include <windows.h>

#include <atomic>

#include "win/Binding.h"

namespace pw {

uint64_t MonotonicMilliseconds() {
    using TickCount64Fn = ULONGLONG(WINAPI*)();
    static const auto tickCount64 =
        LookUpFunction<TickCount64Fn>(GetModuleHandleA("kernel32.dll"), "GetTickCount64");
    if (tickCount64 != nullptr)
        return tickCount64();
    // Called at least every 49 days (the minute tick does), the wraps are all seen.
    static std::atomic<uint64_t> last{0};
    const uint64_t before = last.load();
    const uint32_t now = GetTickCount();
    uint64_t value = (before & ~uint64_t{0xFFFFFFFF}) | now;
    if (value < before)
        value += uint64_t{1} << 32;
    last = value;
    return value;
}

} // namespace pw
