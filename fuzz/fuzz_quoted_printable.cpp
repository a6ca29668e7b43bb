// Fuzzes the quoted-printable decoder on lines split from the input, the one-line text
// decoder and the encoded-word loop.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/Errors.h"
#include "core/MemoryStream.h"
#include "core/MimeDecode.h"
#include "core/Text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> lines = pw::SplitLines(text);
    pw::TMemoryStream stream;
    try {
        pw::TQuotedPrintable(stream, lines).Decode();
    } catch (const pw::Exception&) {
    }
    if (pw::DecodeQuotedPrintableText(text, 255).size() > 255)
        std::abort();
    try {
        if (pw::DecodeEncodedWords(text.substr(0, 255)).size() > 255)
            std::abort();
    } catch (const pw::EInOutError&) {
    }
    return 0;
}
