// Command line of the stand-in client; see StandInOptions.h.
#include "StandInOptions.h"

#include "core/Text.h"

namespace pw {

std::optional<unsigned> ParseMilliseconds(std::string_view text) {
    text = TrimView(text);
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    unsigned long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value > 0x7fffffffULL)
        return std::nullopt;
    return static_cast<unsigned>(value);
}

StandInOptions ParseStandInCommandLine(std::string_view arguments) {
    static constexpr std::string_view kExitAfter = "/EXITAFTER:";
    StandInOptions options;
    size_t pos = 0;
    while (pos < arguments.size()) {
        if (IsBlankOrControl(arguments[pos])) {
            ++pos;
            continue;
        }
        size_t end = pos;
        while (end < arguments.size() && !IsBlankOrControl(arguments[end]))
            ++end;
        const std::string_view word = arguments.substr(pos, end - pos);
        pos = end;
        const std::string upper = UpperCaseAscii(word);
        if (upper == "/PWGM") {
            options.retrieve = true;
            continue;
        }
        if (upper == "/NODDE") {
            options.noDde = true;
            continue;
        }
        if (upper == "/REFUSEADVISE") {
            options.refuseAdvise = true;
            continue;
        }
        if (upper == "/CHECKFIRST") {
            options.checkFirst = true;
            continue;
        }
        if (upper == "/NODONE") {
            options.noDone = true;
            continue;
        }
        if (StartsWith(upper, kExitAfter)) {
            if (auto ms = ParseMilliseconds(word.substr(kExitAfter.size()))) {
                options.exitAfterMs = ms;
                continue;
            }
        }
        if (!options.otherText.empty())
            options.otherText += ' ';
        options.otherText.append(word);
    }
    return options;
}

} // namespace pw
