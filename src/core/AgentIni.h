// The agent's own optional settings file "pwagent.ini": how each POP3 server is reached (clear
// text, STLS or implicit TLS, an optional pinned certificate), whether a password may travel
// in clear text, and whether failures are shown as tray balloons. Read from its text; content
// never raises: a line that cannot be used is skipped with a warning for the trace.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ServerField.h"

namespace pw {

enum class TlsMode { Off, Stls, Implicit };

// The port that means implicit TLS when the file says nothing for the host.
constexpr int kImplicitTlsPort = 995;
// Longer lines (without their line end) are skipped with a warning.
constexpr size_t kMaxAgentIniLine = 1024;

// How one server field ("host" or "host:port") is to be reached.
struct ServerSettings {
    TlsMode Mode = TlsMode::Off;
    std::string Pin; // 64 lowercase hex digits of the certificate's SHA-256, or empty
    bool AllowClearPasswords = true;
};

struct AgentSettingsFile {
    // One "[Server host]" section; what it leaves unset comes from the defaults.
    struct Server {
        std::string Host;
        std::optional<TlsMode> Tls;
        std::string Pin;
        std::optional<bool> AllowClearPasswords;
    };

    TlsMode DefaultTls = TlsMode::Off;
    bool AllowClearPasswords = true;
    bool Balloons = true;
    std::vector<Server> Servers;
    // "pwagent.ini line 7: unknown value 'tsl' for TLS, ignored", in file order.
    std::vector<std::string> Warnings;

    // The settings for a server field: the host's own TLS setting when it has one, else
    // implicit TLS on port 995, else the default. Hosts compare without letter case.
    ServerSettings TlsFor(std::string_view serverField) const;
    const Server* FindServer(std::string_view host) const;
};

// Parses the file's bytes as read from disk; an empty text gives the defaults.
AgentSettingsFile ParseAgentIni(std::string_view text);

} // namespace pw
