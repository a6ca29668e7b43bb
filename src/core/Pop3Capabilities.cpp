// POP3 capabilities; see Pop3Capabilities.h.
#include "Pop3Capabilities.h"

#include <limits>

#include "Text.h"

namespace pw {

namespace {

bool IsTagEnd(char c) {
    return c == ' ' || c == '\t';
}

// The digits at the start of text, saturating at the largest 32-bit value; none without one.
std::optional<uint32_t> LeadingSeconds(std::string_view text) {
    constexpr uint32_t kMost = std::numeric_limits<uint32_t>::max();
    std::optional<uint32_t> value;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        const auto digit = static_cast<uint32_t>(c - '0');
        const uint32_t now = value.value_or(0);
        value = now > (kMost - digit) / 10 ? kMost : now * 10 + digit;
    }
    return value;
}

void Apply(std::string_view line, Pop3Capabilities& capabilities) {
    size_t end = 0;
    while (end < line.size() && !IsTagEnd(line[end]))
        ++end;
    const std::string_view tag = line.substr(0, end);
    const std::string_view arguments = TrimView(line.substr(end));
    if (SameTextAscii(tag, "PIPELINING"))
        capabilities.Pipelining = true;
    else if (SameTextAscii(tag, "RESP-CODES"))
        capabilities.RespCodes = true;
    else if (SameTextAscii(tag, "AUTH-RESP-CODE"))
        capabilities.AuthRespCode = true;
    else if (SameTextAscii(tag, "STLS"))
        capabilities.Stls = true;
    else if (SameTextAscii(tag, "TOP"))
        capabilities.Top = true;
    else if (SameTextAscii(tag, "UIDL"))
        capabilities.Uidl = true;
    else if (SameTextAscii(tag, "LOGIN-DELAY")) {
        // "LOGIN-DELAY 900" or, before the login, "LOGIN-DELAY 900 USER" (it may vary per user).
        if (const std::optional<uint32_t> seconds = LeadingSeconds(arguments))
            capabilities.LoginDelaySeconds = seconds;
    }
}

} // namespace

Pop3Capabilities ParseCapabilities(std::string_view body) {
    Pop3Capabilities capabilities;
    while (!body.empty()) {
        const size_t lf = body.find('\n');
        std::string_view line = body.substr(0, lf);
        body.remove_prefix(lf == std::string_view::npos ? body.size() : lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line == ".")
            break;
        if (!line.empty() && line.front() == '.')
            line.remove_prefix(1);
        Apply(line, capabilities);
    }
    return capabilities;
}

std::string CapabilitiesText(const Pop3Capabilities& capabilities) {
    std::string text;
    const auto add = [&text](bool has, const std::string& name) {
        if (has)
            text += (text.empty() ? "" : " ") + name;
    };
    add(capabilities.Pipelining, "PIPELINING");
    add(capabilities.RespCodes, "RESP-CODES");
    add(capabilities.AuthRespCode, "AUTH-RESP-CODE");
    add(capabilities.LoginDelaySeconds.has_value(),
        "LOGIN-DELAY " + std::to_string(capabilities.LoginDelaySeconds.value_or(0)));
    add(capabilities.Stls, "STLS");
    add(capabilities.Top, "TOP");
    add(capabilities.Uidl, "UIDL");
    return text.empty() ? "none" : text;
}

} // namespace pw
