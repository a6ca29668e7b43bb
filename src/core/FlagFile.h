// The flag file "PWise.flg" that the client keeps beside the agent: its first line is the
// number of messages the client retrieved.
#pragma once

#include <cstdint>
#include <string_view>

namespace pw {

// The count on the first line of the flag file; 0 when it is not a decimal number.
int32_t FlagFileCount(std::string_view text);

} // namespace pw
