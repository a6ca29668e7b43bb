// Texts made fit for the trace and logs: no password, no raw control bytes.
#pragma once

#include <string>
#include <string_view>

namespace pw {

// A DDE text made fit for one log or trace line: the password field of every report line of a
// "CHECK:" reply becomes "***", CR and LF are shown as \r and \n, other control bytes as \xHH.
std::string DdeLogText(std::string_view text);

} // namespace pw
