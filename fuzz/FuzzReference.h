// Plain reference versions of the core's text rules, written the long way for the fuzz targets
// to check the real ones against, and the abort that reports a broken invariant.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace pw::fuzz {

// Aborts with the invariant's text, so that libFuzzer keeps the input as a crash.
inline void Check(bool holds, const char* invariant) {
    if (holds)
        return;
    std::fprintf(stderr, "invariant broken: %s\n", invariant);
    std::abort();
}

// Leading and trailing bytes up to 0x20 removed.
inline std::string_view ReferenceTrim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
        text.remove_suffix(1);
    return text;
}

// Up to the first CR or LF.
inline std::string_view ReferenceFirstLine(std::string_view text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

// A decimal integer: leading blanks, an optional sign, then digits only, within 32 bits. The
// range is checked on the digits as text, not by arithmetic.
inline std::optional<int32_t> ReferenceDecimal(std::string_view text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return std::nullopt;
    text.remove_prefix(first);
    bool negative = false;
    if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    while (text.size() > 1 && text.front() == '0')
        text.remove_prefix(1);
    const std::string_view limit = negative ? "2147483648" : "2147483647";
    if (text.size() > limit.size() || (text.size() == limit.size() && text > limit))
        return std::nullopt;
    const int64_t magnitude = std::stoll(std::string(text));
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

} // namespace pw::fuzz
