// Text helpers on 8-bit (Windows ANSI) strings, with the trimming and number rules that the
// client's files and the mail protocols rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pw {

// Blanks and control characters (every byte up to 0x20) are what Trim removes.
inline bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view TrimView(std::string_view text);
std::string_view TrimLeftView(std::string_view text);
std::string_view TrimRightView(std::string_view text);
inline std::string Trim(std::string_view text) {
    return std::string(TrimView(text));
}
inline std::string TrimLeft(std::string_view text) {
    return std::string(TrimLeftView(text));
}
inline std::string TrimRight(std::string_view text) {
    return std::string(TrimRightView(text));
}

// The value of a hex digit in either case, -1 for any other byte.
int HexDigitValue(char c);

// Folds a to z to upper case; other bytes stay.
std::string UpperCaseAscii(std::string_view text);
bool SameTextAscii(std::string_view a, std::string_view b);
bool StartsWith(std::string_view text, std::string_view prefix);

// Decimal integer with optional leading blanks and an optional sign, nothing after the digits,
// within 32 bits. Empty when the text is not one.
std::optional<int32_t> TryStrToInt(std::string_view text);
// The same, raising EConvertError ("'x' is not a valid integer value") when it is not one.
int32_t StrToInt(std::string_view text);
// The same, giving fallback when it is not one.
int32_t StrToIntDef(std::string_view text, int32_t fallback);

// Splits a text into lines at CR LF, LF or a lone CR; a final line end adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);

// Takes the first complete line (ended by LF, a CR before it dropped) off the front of text
// that arrives in pieces; nothing while no LF has come yet.
std::optional<std::string> TakeLine(std::string& pending);

// A text of at most Bound characters; a longer value is cut when it is stored.
template <size_t Bound> class BoundedText {
public:
    static constexpr size_t kBound = Bound;
    BoundedText() = default;
    BoundedText(std::string_view value) { Assign(value); } // NOLINT: implicit like a string
    BoundedText& operator=(std::string_view value) {
        Assign(value);
        return *this;
    }
    const std::string& str() const { return value_; }
    operator const std::string&() const { return value_; } // NOLINT
    bool empty() const { return value_.empty(); }
    size_t size() const { return value_.size(); }
    friend bool operator==(const BoundedText& a, std::string_view b) { return a.value_ == b; }

private:
    void Assign(std::string_view value) { value_.assign(value.substr(0, Bound)); }
    std::string value_;
};

} // namespace pw
