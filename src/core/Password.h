// Password unscrambling of the client's files. The substitution pairs mirrored positions of
// two fixed tables, so the same routine also scrambles.
#pragma once

#include <string>
#include <string_view>

namespace pw {

// The long and the short substitution table (each character once).
extern const std::string_view kPasswordTableA;
extern const std::string_view kPasswordTableB;

// Replaces every character by the one at the mirrored position of table A, else of table B;
// a character in neither table becomes the first character of B. Keeps the length.
std::string UnscramblePassword(std::string_view text);

} // namespace pw
