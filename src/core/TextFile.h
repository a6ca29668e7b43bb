// The text of a small settings file as an editor may have saved it: UTF-16 in either byte
// order (Notepad's "Unicode"), UTF-8 with or without its mark, or 8-bit ANSI.
#pragma once

#include <string>
#include <string_view>

namespace pw {

enum class TextFileEncoding { Bytes, Utf8Bom, Utf16LE, Utf16BE };

// How the bytes are encoded: by their byte-order mark; without one, UTF-16 when the first
// character has a zero byte on one side only ("T\0" or "\0T"); otherwise 8-bit or UTF-8 as is.
TextFileEncoding DetectTextFileEncoding(std::string_view bytes);

// The text with its mark removed; UTF-16 becomes UTF-8. What cannot be decoded (a lone
// surrogate, an odd last byte) becomes a zero byte, which no readable text holds: a reader
// treats a line with one as a line it cannot read.
std::string DecodeTextFile(std::string_view bytes);

} // namespace pw
