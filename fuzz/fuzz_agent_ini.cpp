// Fuzzes the agent's settings file: any bytes parse without raising, every warning names its
// line and stays bounded, pins are normalised, and the line ends, a byte-order mark or the
// letter case of host names change nothing.
#include "core/AgentIni.h"

#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzReference.h"
#include "core/CertificatePins.h"
#include "core/Text.h"
#include "core/TextFile.h"

namespace {

using pw::AgentSettingsFile;
using pw::fuzz::Check;

// Everything the parse decided, as one comparable text.
std::string Describe(const AgentSettingsFile& settings) {
    std::string text = std::to_string(static_cast<int>(settings.DefaultTls)) +
                       (settings.AllowClearPasswords ? "c" : "-") + (settings.Balloons ? "b" : "-");
    for (const auto& server : settings.Servers)
        text += "\n" + pw::UpperCaseAscii(server.Host) + "|" +
                (server.Tls ? std::to_string(static_cast<int>(*server.Tls)) : "?") + "|" +
                server.Pin + "|" +
                (server.AllowClearPasswords ? (*server.AllowClearPasswords ? "y" : "n") : "?");
    for (const auto& warning : settings.Warnings)
        text += "\n" + warning;
    return text;
}

std::string Replace(std::string_view text, std::string_view from, std::string_view to) {
    std::string result;
    for (size_t i = 0; i < text.size();) {
        if (text.substr(i, from.size()) == from) {
            result += to;
            i += from.size();
        } else {
            result += text[i++];
        }
    }
    return result;
}

bool IsNormalisedPin(const std::string& pin) {
    if (pin.empty())
        return true;
    const auto pins = pw::ParsePins(pin);
    return pins && pw::PinsText(*pins) == pin;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const AgentSettingsFile settings = pw::ParseAgentIni(text);

    for (const std::string& warning : settings.Warnings) {
        Check(warning.rfind("pwagent.ini line ", 0) == 0, "a warning names its line");
        Check(warning.size() < 200, "a warning is bounded");
        Check(warning.find_first_of("\r\n") == std::string::npos, "a warning is one line");
    }
    Check(settings.Warnings.size() <= size, "at most one warning per line");
    for (const auto& server : settings.Servers) {
        Check(!server.Host.empty() && server.Host.size() <= pw::kMaxAgentIniLine,
              "a server names a bounded host");
        Check(IsNormalisedPin(server.Pin), "pins are kept as they read back");
        const pw::ServerSettings found = settings.TlsFor(server.Host + ":995");
        if (server.Unreadable || settings.UnreadableDefaults)
            Check(!found.AllowClearPasswords && settings.UnreadableLine.has_value(),
                  "an unreadable security line forbids clear passwords and is told");
        Check(found.Pin == server.Pin, "a server's host finds its section");
        Check(server.Tls.has_value() || found.Mode == pw::TlsMode::Implicit,
              "port 995 is implicit TLS unless the host says otherwise");
    }

    // Only the line ends' spelling: LF for every CR LF and lone CR is the same file.
    // The byte-level rules hold for 8-bit files; UTF-16 must first be decoded.
    const bool bytes = pw::DetectTextFileEncoding(text) == pw::TextFileEncoding::Bytes &&
                       text.find('\0') == std::string_view::npos;
    if (bytes && text.find('\r') != std::string_view::npos)
        Check(Describe(pw::ParseAgentIni(Replace(Replace(text, "\r\n", "\n"), "\r", "\n"))) ==
                  Describe(settings),
              "CR LF, CR and LF read alike");
    if (bytes) {
        Check(Describe(pw::ParseAgentIni("\xEF\xBB\xBF" + std::string(text))) == Describe(settings),
              "a byte-order mark changes nothing");
        // The same text saved as UTF-16: every byte a code unit of its own.
        std::string utf16 = "\xFF\xFE";
        bool ascii = true;
        for (char c : text) {
            ascii = ascii && static_cast<unsigned char>(c) < 0x80 && c != '\0';
            utf16 += std::string{c, '\0'};
        }
        if (ascii)
            Check(Describe(pw::ParseAgentIni(utf16)) == Describe(settings),
                  "UTF-16 reads as the same text");
    }
    return 0;
}
