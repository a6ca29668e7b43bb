// The opt-in diagnostic trace: when the environment variable PWAGENT_TRACE names a file, one
// line per event is appended to it (time, then the text). Off by default. Callers never pass
// a password: use MaskSecret for anything that may hold one.
#pragma once

#include <string>
#include <string_view>

namespace pw {

bool TraceEnabled();
void Trace(std::string_view text);

// "***" for a non-empty secret, empty for an empty one.
inline std::string MaskSecret(std::string_view secret) {
    return secret.empty() ? std::string() : std::string("***");
}

} // namespace pw
