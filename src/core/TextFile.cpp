// Settings-file decoding; see TextFile.h.
#include "TextFile.h"

#include <cstdint>

#include "Text.h"

namespace pw {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEBom = "\xFF\xFE";
constexpr std::string_view kUtf16BEBom = "\xFE\xFF";

void AppendUtf8(uint32_t code, std::string& out) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xF0 | (code >> 18));
        out += char(0x80 | ((code >> 12) & 0x3F));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

std::string DecodeUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size() / 2);
    const auto unit = [&](size_t i) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? uint32_t(first << 8 | second) : uint32_t(second << 8 | first);
    };
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const uint32_t code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size()) {
            const uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00), out);
                i += 2;
                continue;
            }
        }
        if (code >= 0xD800 && code < 0xE000)
            out += '\0'; // a lone half of a pair
        else
            AppendUtf8(code, out);
    }
    if (i < bytes.size())
        out += '\0'; // an odd byte at the end
    return out;
}

} // namespace

TextFileEncoding DetectTextFileEncoding(std::string_view bytes) {
    if (StartsWith(bytes, kUtf8Bom))
        return TextFileEncoding::Utf8Bom;
    if (StartsWith(bytes, kUtf16LEBom))
        return TextFileEncoding::Utf16LE;
    if (StartsWith(bytes, kUtf16BEBom))
        return TextFileEncoding::Utf16BE;
    if (bytes.size() >= 2 && (bytes[0] == '\0') != (bytes[1] == '\0'))
        return bytes[0] == '\0' ? TextFileEncoding::Utf16BE : TextFileEncoding::Utf16LE;
    return TextFileEncoding::Bytes;
}

std::string DecodeTextFile(std::string_view bytes) {
    switch (DetectTextFileEncoding(bytes)) {
    case TextFileEncoding::Utf8Bom:
        return std::string(bytes.substr(kUtf8Bom.size()));
    case TextFileEncoding::Utf16LE:
        return DecodeUtf16(StartsWith(bytes, kUtf16LEBom) ? bytes.substr(2) : bytes, false);
    case TextFileEncoding::Utf16BE:
        return DecodeUtf16(StartsWith(bytes, kUtf16BEBom) ? bytes.substr(2) : bytes, true);
    case TextFileEncoding::Bytes:
        break;
    }
    return std::string(bytes);
}

} // namespace pw
