// Delimited-field rule; see Delimited.h.
#include "Delimited.h"

#include "Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace pw {

int CountDelimitedFields(std::string_view text, char delimiter) {
    const std::string_view trimmed = TrimRightView(text);
    if (trimmed.empty())
        return 0;
    // A text longer than INT_MAX cannot be held in a 32-bit process; clamp for the host build.
    const auto delimiters = std::count(trimmed.begin(), trimmed.end(), delimiter);
    return static_cast<int>(std::min<std::ptrdiff_t>(delimiters, INT32_MAX - 1)) + 1;
}

std::string GetDelimitedField(int n, std::string_view text, char delimiter) {
    // The rule pads the text with three blanks and a delimiter, so that a delimiter always
    // follows the last field, and walks that copy. Searching the text itself finds the same
    // field without the copy. Field n exists when the text without its trailing blanks holds
    // n - 1 delimiters.
    const std::string_view trimmed = TrimRightView(text);
    if (n < 1 || trimmed.empty())
        return {};
    size_t start = 0;
    for (int counted = 0; counted < n - 1; ++counted) {
        const size_t found = trimmed.find(delimiter, start);
        if (found == std::string_view::npos)
            return {};
        start = found + 1;
    }
    const size_t end = text.find(delimiter, start);
    if (end != std::string_view::npos)
        return std::string(text.substr(start, end - start));
    // The last field runs into the padding: its three blanks, unless the delimiter is a blank.
    std::string field(text.substr(start));
    if (delimiter != ' ')
        field += "   ";
    return field;
}

} // namespace pw
