// Fuzzes the delimited-field rule: byte 0 is the delimiter, bytes 1-4 the field number, the
// rest the text.
#include "core/Delimited.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    const char delimiter = static_cast<char>(data[0]);
    int32_t n = 0;
    std::memcpy(&n, data + 1, sizeof n);
    const std::string_view text(reinterpret_cast<const char*>(data + 5), size - 5);

    const int count = pw::CountDelimitedFields(text, delimiter);
    if (count < 0 || static_cast<size_t>(count) > text.size() + 1)
        std::abort();
    // Also every small field number, so that fields in range are reached often.
    for (const int32_t number : {n, static_cast<int32_t>(static_cast<uint32_t>(n) % 8)}) {
        const std::string field = pw::GetDelimitedField(number, text, delimiter);
        if ((number < 1 || number > count) && !field.empty())
            std::abort();
        // A field is a piece of the text plus at most the three padding blanks and never
        // holds the delimiter.
        if (field.size() > text.size() + 3 || field.find(delimiter) != std::string::npos)
            std::abort();
    }
    return 0;
}
