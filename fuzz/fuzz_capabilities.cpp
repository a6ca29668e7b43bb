// Fuzzes the reading of a CAPA reply with the input as the lines after its status line: any
// bytes are read without harm, letter case does not matter, and what is read reads back the same
// from the list it names.
#include "FuzzReference.h"

#include "core/Pop3Capabilities.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using pw::fuzz::Check;

bool Same(const pw::Pop3Capabilities& a, const pw::Pop3Capabilities& b) {
    return a.Pipelining == b.Pipelining && a.RespCodes == b.RespCodes &&
           a.AuthRespCode == b.AuthRespCode && a.Stls == b.Stls && a.Top == b.Top &&
           a.Uidl == b.Uidl && a.LoginDelaySeconds == b.LoginDelaySeconds;
}

// The list as a server would send it: the trace's words, one capability a line.
std::string Listed(const pw::Pop3Capabilities& capabilities) {
    std::string text = pw::CapabilitiesText(capabilities);
    if (text == "none")
        return ".\r\n";
    std::string body;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos)
            end = text.size();
        std::string word = text.substr(at, end - at);
        // LOGIN-DELAY keeps its number on its line.
        body += word;
        body += word == "LOGIN-DELAY" ? " " : "\r\n";
        at = end + 1;
    }
    return body + ".\r\n";
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    const pw::Pop3Capabilities read = pw::ParseCapabilities(body);

    const bool any = read.Pipelining || read.RespCodes || read.AuthRespCode || read.Stls ||
                     read.Top || read.Uidl || read.LoginDelaySeconds.has_value();
    Check(any == (pw::CapabilitiesText(read) != "none"), "the text names what was read");
    Check(Same(pw::ParseCapabilities(Listed(read)), read), "the named list reads back the same");

    std::string lower(body), upper(body);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    Check(Same(pw::ParseCapabilities(lower), read), "letter case does not matter (lower)");
    Check(Same(pw::ParseCapabilities(upper), read), "letter case does not matter (upper)");
    return 0;
}
