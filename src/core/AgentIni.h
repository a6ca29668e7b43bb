// The agent's own optional settings file "pwagent.ini": how each POP3 server is reached (clear
// text, STLS or implicit TLS, an optional pinned certificate, its capabilities asked or not),
// whether a password may travel in clear text, and whether failures are shown as tray balloons.
// Read from its bytes (UTF-16 in either order, UTF-8 with or without its mark, or ANSI); content
// never raises: a line that cannot be used is skipped with a warning for the trace. A line that
// names a security setting and cannot be read never weakens the agent: its section's servers get no
// password in clear text.
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
    // The pins as PinsText writes them ("spki:<hex>,<hex>"), or empty. A pin without TLS
    // forbids clear passwords: its owner wanted the server's identity checked.
    std::string Pin;
    bool AllowClearPasswords = true;
    // "CAPA" once per run and pipelined commands where the server allows them; off, the
    // dialogue is the one without them, byte for byte.
    bool Capabilities = true;
};

struct AgentSettingsFile {
    // One "[Server host]" section; what it leaves unset comes from the defaults.
    struct Server {
        std::string Host;
        std::optional<TlsMode> Tls;
        std::string Pin;
        std::optional<bool> AllowClearPasswords;
        std::optional<bool> Capabilities;
        // A security line of the section could not be read.
        bool Unreadable = false;
    };

    TlsMode DefaultTls = TlsMode::Off;
    bool AllowClearPasswords = true;
    bool Balloons = true;
    bool Capabilities = true;
    std::vector<Server> Servers;
    // A security line of [Defaults] or of a section whose header could not be read: no server
    // gets a password in clear text.
    bool UnreadableDefaults = false;
    // The first security line that could not be read, to tell the user once.
    std::optional<size_t> UnreadableLine;
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
