// Fuzzes the count read from the flag file: the first line as a decimal number, else 0.
#include "FuzzReference.h"

#include "core/FlagFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using pw::fuzz::Check;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string_view first = pw::fuzz::ReferenceFirstLine(text);

    const int32_t count = pw::FlagFileCount(text);
    Check(count == pw::fuzz::ReferenceDecimal(first).value_or(0),
          "the count is the first line as a decimal number");
    Check(pw::FlagFileCount(first) == count, "later lines do not count");
    // A count the client writes, in front of whatever the file held, is read back.
    const int32_t written = static_cast<int32_t>(size * 2654435761u);
    for (const char* end : {"\r\n", "\n", "\r", ""}) {
        const std::string file = std::to_string(written) + end + (*end ? std::string(text) : "");
        Check(pw::FlagFileCount(file) == written, "a written count reads back");
    }
    return 0;
}
