// Fuzzes the delimited-field rule: byte 0 is the delimiter, bytes 1-4 the field number, the
// rest the text. Fields must equal those of the rule as written: pad the text, then walk it.
#include "FuzzReference.h"

#include "core/Delimited.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

using pw::fuzz::Check;

int ReferenceCount(std::string_view text, char delimiter) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
        text.remove_suffix(1);
    return text.empty() ? 0 : 1 + static_cast<int>(std::count(text.begin(), text.end(), delimiter));
}

std::string ReferenceField(int32_t n, std::string_view text, char delimiter, int count) {
    if (n < 1 || n > count)
        return {};
    const std::string work =
        " " + std::string(text) + "   " + delimiter + "-----" + delimiter + "-----";
    size_t pos = 0;
    for (int32_t counted = 0; counted < n - 1;) {
        ++pos;
        if (pos >= work.size() || work[pos] == delimiter)
            ++counted;
    }
    const size_t start = pos + 1;
    if (start >= work.size())
        return {};
    return work.substr(start, work.find(delimiter, start) - start);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    const char delimiter = static_cast<char>(data[0]);
    int32_t n = 0;
    std::memcpy(&n, data + 1, sizeof n);
    const std::string_view text(reinterpret_cast<const char*>(data + 5), size - 5);

    const int count = pw::CountDelimitedFields(text, delimiter);
    Check(count == ReferenceCount(text, delimiter), "count is 1 plus the delimiters");
    // Also every small field number, so that fields in range are reached often.
    for (const int32_t number : {n, static_cast<int32_t>(static_cast<uint32_t>(n) % 8)}) {
        const std::string field = pw::GetDelimitedField(number, text, delimiter);
        Check(field == ReferenceField(number, text, delimiter, count),
              "the field is the padded walk's");
        Check((number >= 1 && number <= count) || field.empty(), "out of range is empty");
        // A field is a piece of the text plus at most the three padding blanks and never
        // holds the delimiter.
        Check(field.size() <= text.size() + 3 && field.find(delimiter) == std::string::npos,
              "a field is a piece of the text");
    }
    return 0;
}
