// Fields of a text split at a delimiter character: the rule the client's accounts file ("^")
// and the known-ids files (";") are read by.
#pragma once

#include <string>
#include <string_view>

namespace pw {

// Number of fields: 0 for a text that is empty after trailing blanks are removed, otherwise
// 1 plus the number of delimiters in the trimmed text.
int CountDelimitedFields(std::string_view text, char delimiter);

// Field n (from 1), untrimmed; the last field keeps the three padding blanks the rule adds
// (unless the delimiter is a blank), so callers trim. Empty for n < 1 or n past the count.
std::string GetDelimitedField(int n, std::string_view text, char delimiter);

} // namespace pw
