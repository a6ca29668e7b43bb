// Encoded-word, Base64 and quoted-printable decoding for header values.
#include "MimeDecode.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "Errors.h"
#include "MemoryStream.h"
#include "Text.h"

namespace pw {

namespace {

constexpr size_t kMaxText = 255;
constexpr uint8_t kPadValue = 255;

void CutTo(std::string& text, size_t maximum) {
    if (text.size() > maximum)
        text.resize(maximum);
}

// Position of the "?=" that closes an encoded word, searched from start. A "?=" right after
// "?B" or "?Q" is skipped: that "?" ends the encoding field and the "=" begins an escape.
size_t FindEndMarker(const std::string& text, size_t start) {
    for (size_t i = start; i + 1 < text.size(); ++i) {
        if (text[i] != '?' || text[i + 1] != '=')
            continue;
        const bool afterEncodingLetter =
            i >= 2 && text[i - 2] == '?' && (text[i - 1] == 'B' || text[i - 1] == 'Q');
        if (!afterEncodingLetter)
            return i;
    }
    return std::string::npos;
}

// Decodes "charset?letter?encoded" (the charset is ignored). Empty when the word has no
// encoding letter or one other than B or Q: such a word is left as it stands.
std::optional<std::string> DecodeWord(std::string_view inner, const MessagePump& pump) {
    const size_t question = inner.find('?');
    if (question == std::string_view::npos || question + 1 >= inner.size())
        return std::nullopt;
    const char letter = inner[question + 1];
    const std::string_view encoded =
        question + 3 <= inner.size() ? inner.substr(question + 3) : std::string_view();
    switch (letter) {
    case 'B':
    case 'b':
        return DecodeBase64(encoded, kMaxText, pump);
    case 'Q':
    case 'q':
        return DecodeQuotedPrintableText(encoded, kMaxText, pump);
    default:
        return std::nullopt;
    }
}

} // namespace

// Ends on every input: a decoded word is never longer than its encoded text, so each decoding
// round shortens the text by at least the four marker characters, and a word that is left
// as it stands moves the scan past itself. Text before the scan position is not examined
// again, so an "=?" that a kept word forms with what follows it is not a new word.
std::string DecodeEncodedWords(std::string_view input, const MessagePump& pump) {
    std::string text(input);
    size_t from = 0;
    for (;;) {
        const size_t start = text.find("=?", from);
        if (start == std::string::npos)
            break;
        const size_t end = FindEndMarker(text, start + 2);
        if (end == std::string::npos)
            break;
        const std::string_view inner = std::string_view(text).substr(start + 2, end - start - 2);
        std::optional<std::string> decoded = DecodeWord(inner, pump);
        if (!decoded) {
            from = end + 2;
            continue;
        }
        CutTo(*decoded, kMaxText);
        std::string next = text.substr(0, start) + *decoded + Trim(text.substr(end + 2));
        CutTo(next, kMaxText);
        std::replace(next.begin(), next.end(), '_', ' ');
        text = std::move(next);
    }
    return text;
}

uint8_t Base64CharValue(char c) {
    if (c >= 'A' && c <= 'Z')
        return static_cast<uint8_t>(c - 'A');
    if (c >= 'a' && c <= 'z')
        return static_cast<uint8_t>(c - 'a' + 26);
    if (c >= '0' && c <= '9')
        return static_cast<uint8_t>(c - '0' + 52);
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    if (c == '=')
        return kPadValue;
    throw EInOutError("Invalid Character");
}

// A "=" anywhere stands for six zero bits. A final group of fewer than four characters is
// read as if padded with "=" to four. The bytes that the trailing pads (written or implied)
// stand for are dropped before the maximum applies, so a cut never loses real data bytes.
std::string DecodeBase64(std::string_view text, size_t maximum, const MessagePump& pump) {
    Pump(pump);
    size_t pads = 0;
    while (pads < text.size() && text[text.size() - 1 - pads] == '=')
        ++pads;
    const size_t groups = (text.size() + 3) / 4;
    const size_t impliedPads = groups * 4 - text.size();
    const size_t decodedSize = groups * 3 - std::min(groups * 3, pads + impliedPads);
    const size_t keep = std::min(decodedSize, maximum);

    std::string result;
    result.reserve(keep);
    // Every character is checked, also those whose bytes fall past the maximum.
    for (size_t group = 0; group < text.size(); group += 4) {
        uint32_t bits = 0;
        for (size_t k = group; k < group + 4; ++k) {
            const uint8_t value = k < text.size() ? Base64CharValue(text[k]) : kPadValue;
            bits = (bits << 6) | (value == kPadValue ? 0u : value);
        }
        for (int shift = 16; shift >= 0; shift -= 8)
            if (result.size() < keep)
                result += static_cast<char>((bits >> shift) & 0xFF);
    }
    return result;
}

std::string DecodeQuotedPrintableText(std::string_view text, size_t maximum,
                                      const MessagePump& pump) {
    std::vector<std::string> lines{std::string(text)};
    TMemoryStream stream;
    TQuotedPrintable decoder(stream, lines, pump);
    decoder.Decode();
    stream.SetPosition(0);
    lines = SplitLines(stream.Data());
    if (lines.empty())
        return {};
    CutTo(lines.front(), maximum);
    return lines.front();
}

void TQuotedPrintable::DecodeLine(std::string& line) {
    for (size_t p = 0; p + 1 < line.size(); ++p) {
        if (line[p] != '=')
            continue;
        const size_t digits = std::min<size_t>(2, line.size() - p - 1);
        int value = 0;
        bool isHex = true;
        for (size_t k = 1; k <= digits && isHex; ++k) {
            const int digit = HexDigitValue(line[p + k]);
            isHex = digit >= 0;
            value = value * 16 + digit;
        }
        if (isHex)
            line.replace(p, digits + 1, 1, static_cast<char>(value));
    }
}

void TQuotedPrintable::Decode() {
    std::vector<char> buffer(kParagraphBufferSize);
    size_t next = 0;
    do {
        size_t count = 0;
        while (next < lines_.size()) {
            std::string line = lines_[next++].substr(0, kMaxLineLength);
            // Only a "=" written at the line end is a soft break; an escaped one ("=3D") is
            // data.
            const bool softBreak = !line.empty() && line.back() == '=';
            DecodeLine(line);
            if (softBreak)
                line.pop_back();
            else if (line.empty() || line.back() != kEndOfFile)
                line += "\r\n";
            if (line.size() + count + 1 >= kParagraphBufferSize)
                throw Exception("Paragraph is too large");
            std::memcpy(buffer.data() + count, line.data(), line.size());
            count += line.size();
            if (!softBreak)
                break;
        }
        output_.Write(buffer.data(), count);
        Pump(pump_);
    } while (next < lines_.size() && !Abort);
}

} // namespace pw
