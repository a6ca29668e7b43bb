// Fuzzes the Base64 decoder with a result maximum taken from the first byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/Errors.h"
#include "core/MimeDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t maximum = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    try {
        if (pw::DecodeBase64(text, maximum).size() > maximum)
            std::abort();
    } catch (const pw::EInOutError&) {
    }
    return 0;
}
