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
    if (n < 1 || n > CountDelimitedFields(text, delimiter))
        return {};
    // The padding guarantees a delimiter after the last field.
    std::string work;
    work.reserve(text.size() + 17);
    work += ' ';
    work += text;
    work += "   ";
    work += delimiter;
    work += "-----";
    work += delimiter;
    work += "-----";

    // The walk starts on the leading blank; a position past the end counts like a delimiter,
    // so it always ends even though n never asks for more delimiters than the text holds.
    size_t pos = 0;
    for (int counted = 0; counted < n - 1;) {
        ++pos;
        if (pos >= work.size() || work[pos] == delimiter)
            ++counted;
    }
    const size_t start = pos + 1;
    if (start >= work.size())
        return {};
    const size_t end = work.find(delimiter, start);
    return work.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace pw
