// MIME decoders for header values: encoded words ("=?charset?B|Q?text?="), Base64 and
// quoted-printable. Texts are 8-bit; every decoder ends on every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Component.h"

namespace pw {

class TMemoryStream;

// Decodes every encoded word of a header value (at most 255 characters in and out).
std::string DecodeEncodedWords(std::string_view text, const MessagePump& pump = {});

// 0..63 for the Base64 alphabet, 255 for the pad "="; EInOutError "Invalid Character" for any
// other character.
uint8_t Base64CharValue(char c);

// Decodes Base64 text into at most maximum bytes; raises EInOutError "Invalid Character" on a
// character outside the alphabet.
std::string DecodeBase64(std::string_view text, size_t maximum, const MessagePump& pump = {});

// The first line of the quoted-printable decoding of text, cut to maximum.
std::string DecodeQuotedPrintableText(std::string_view text, size_t maximum,
                                      const MessagePump& pump = {});

// Decodes quoted-printable lines paragraph by paragraph into a stream; a paragraph is a run
// of lines joined by soft line breaks ("=" at the line end).
class TQuotedPrintable {
public:
    static constexpr size_t kParagraphBufferSize = 24576;
    static constexpr size_t kMaxLineLength = 255;
    static constexpr char kEndOfFile = 26;

    TQuotedPrintable(TMemoryStream& output, const std::vector<std::string>& lines,
                     MessagePump pump = {})
        : output_(output), lines_(lines), pump_(std::move(pump)) {}

    // Set, for example from a pumped message handler, to stop between paragraphs.
    bool Abort = false;

    // Raises Exception "Paragraph is too large" when a paragraph does not fit the buffer.
    void Decode();

    // Replaces each "=XY" escape (hexadecimal, either case) by its byte, in place. The last
    // character is never examined and bytes just produced are not looked at again.
    static void DecodeLine(std::string& line);

private:
    TMemoryStream& output_;
    const std::vector<std::string>& lines_;
    MessagePump pump_;
};

} // namespace pw
