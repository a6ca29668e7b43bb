// Fuzzes the dial-up settings reader with arbitrary file contents; byte 0 chooses the mode.
#include "core/DialupFile.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const bool backgroundMode = (data[0] & 1) != 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const pw::DialupSettings settings = pw::ReadDialupFile(text, backgroundMode);
    if (settings.CheckInterval.has_value() == backgroundMode)
        std::abort();
    if (settings.NoDial != settings.PermanentConnection)
        std::abort();
    // Lines are pieces of the text.
    if (settings.DialEntry.size() + settings.DialUserName.size() + settings.DialPassword.size() >
        text.size())
        std::abort();
    for (const std::string_view line :
         {std::string_view(settings.DialEntry), std::string_view(settings.DialUserName)})
        if (line.find_first_of("\r\n") != std::string_view::npos ||
            text.find(line) == std::string_view::npos)
            std::abort();
    return 0;
}
