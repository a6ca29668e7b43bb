// The monotonic clock: milliseconds since the system started, running on through sleep and
// hibernation and never set back (unlike the time of day).
#pragma once

#include <cstdint>

namespace pw {

// GetTickCount64 where the system has it (Vista and later); before, GetTickCount's 32 bits
// carried over into 64 as they wrap.
uint64_t MonotonicMilliseconds();

} // namespace pw
