// The agent's settings file; see AgentIni.h. Keys are read the way the Windows profile functions
// read them where that matters to a user: names without letter case, the first of two equal
// keys counts, comments on lines of their own.
#include "AgentIni.h"

#include <map>
#include <utility>

#include "CertificatePins.h"
#include "Text.h"
#include "TextFile.h"

namespace pw {

namespace {

// Values quoted in a warning are cut to this many bytes.
constexpr size_t kMaxQuoted = 40;

// A piece of the file as it may stand in a trace line: bounded, no control bytes.
std::string Quoted(std::string_view text) {
    std::string result = "'";
    for (char c : text.substr(0, kMaxQuoted)) {
        const auto byte = static_cast<unsigned char>(c);
        result += byte < 0x20 || byte == 0x7F ? '?' : c;
    }
    if (text.size() > kMaxQuoted)
        result += "...";
    return result + "'";
}

std::optional<TlsMode> ParseTlsMode(std::string_view value) {
    if (SameTextAscii(value, "off"))
        return TlsMode::Off;
    if (SameTextAscii(value, "stls"))
        return TlsMode::Stls;
    if (SameTextAscii(value, "implicit"))
        return TlsMode::Implicit;
    return std::nullopt;
}

std::optional<bool> ParseYesNo(std::string_view value) {
    for (std::string_view yes : {"yes", "true", "1"})
        if (SameTextAscii(value, yes))
            return true;
    for (std::string_view no : {"no", "false", "0"})
        if (SameTextAscii(value, no))
            return false;
    return std::nullopt;
}

class Parser {
public:
    AgentSettingsFile Parse(std::string_view text) {
        const std::vector<std::string> lines = SplitLines(DecodeTextFile(text));
        for (size_t i = 0; i < lines.size(); ++i) {
            lineNumber_ = i + 1;
            Line(lines[i]);
        }
        WarnPinsWithoutTls();
        return std::move(result_);
    }

private:
    // Where the key lines that follow go. Unreadable: a section whose header could not be read,
    // so that its lines may concern any server.
    enum class Section { None, Defaults, Server, Ignored, Unreadable };
    // The defaults and each server are told apart by number: 0, then 1 + server index.
    using KeyPlace = std::pair<size_t, std::string>;

    void Warn(const std::string& what) {
        result_.Warnings.push_back("pwagent.ini line " + std::to_string(lineNumber_) + ": " + what);
    }

    static bool IsSecurityKey(const std::string& name) {
        return name == "TLS" || name == "ALLOWCLEARPASSWORDS" || name == "PIN";
    }

    // A security line that cannot be read: the servers it may concern get no clear password.
    void Unreadable() {
        if (!result_.UnreadableLine)
            result_.UnreadableLine = lineNumber_;
        if (section_ == Section::Server)
            result_.Servers[server_].Unreadable = true;
        else if (section_ != Section::Ignored)
            result_.UnreadableDefaults = true;
    }

    // A line that is skipped unread (too long, not valid text): a section header's keys must
    // not fall into the section before it, and a key that may be a security setting fails safe.
    void Unread(std::string_view trimmed) {
        if (StartsWith(trimmed, "[")) {
            section_ = Section::Unreadable;
            return;
        }
        const size_t equals = trimmed.find('=');
        if (equals == std::string_view::npos)
            return;
        const std::string_view key = TrimView(trimmed.substr(0, equals));
        if (key.find('\0') != std::string_view::npos || IsSecurityKey(UpperCaseAscii(key)))
            Unreadable();
    }

    void Line(std::string_view line) {
        const std::string_view trimmed = TrimView(line);
        if (line.size() > kMaxAgentIniLine) {
            Warn("line longer than " + std::to_string(kMaxAgentIniLine) + " bytes, ignored");
            Unread(trimmed);
            return;
        }
        if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#')
            return;
        if (trimmed.find('\0') != std::string_view::npos) {
            Warn("line is not valid text, ignored");
            Unread(trimmed);
            return;
        }
        if (trimmed.front() == '[')
            SectionHeader(trimmed);
        else
            KeyLine(trimmed);
    }

    void SectionHeader(std::string_view header) {
        section_ = Section::Ignored;
        if (header.back() != ']' || header.size() < 2) {
            Warn("section header " + Quoted(header) + " has no closing ']', its lines ignored");
            section_ = Section::Unreadable;
            return;
        }
        const std::string_view name = TrimView(header.substr(1, header.size() - 2));
        if (SameTextAscii(name, "Defaults")) {
            section_ = Section::Defaults;
            return;
        }
        constexpr std::string_view kServer = "Server";
        if (name.size() > kServer.size() &&
            SameTextAscii(name.substr(0, kServer.size()), kServer) &&
            IsBlankOrControl(name[kServer.size()])) {
            ServerHeader(NormaliseHost(name.substr(kServer.size())));
            return;
        }
        if (SameTextAscii(name, kServer)) {
            Warn("[Server] names no host, its lines ignored");
            return;
        }
        Warn("unknown section " + Quoted(name) + ", its lines ignored");
    }

    void ServerHeader(std::string_view host) {
        const ServerFieldParts parts = SplitServerField(host);
        if (parts.HasPort) {
            Warn("a server section names the host alone; the port " +
                 Quoted(host.substr(parts.Host.size())) + " is ignored");
            host = NormaliseHost(parts.Host);
            if (host.empty())
                return;
        }
        section_ = Section::Server;
        for (size_t i = 0; i < result_.Servers.size(); ++i)
            if (SameTextAscii(result_.Servers[i].Host, host)) {
                server_ = i; // a second section for a host adds to the first
                return;
            }
        server_ = result_.Servers.size();
        result_.Servers.push_back(
            {std::string(host), std::nullopt, {}, std::nullopt, std::nullopt});
    }

    void KeyLine(std::string_view line) {
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            Warn(Quoted(line) + " is not a key=value line, ignored");
            return;
        }
        const std::string_view key = TrimView(line.substr(0, equals));
        const std::string_view value = TrimView(line.substr(equals + 1));
        const std::string name = UpperCaseAscii(key);
        if (section_ == Section::Unreadable && IsSecurityKey(name))
            Unreadable();
        if (section_ == Section::Ignored || section_ == Section::Unreadable)
            return; // said once, at the section's header
        if (section_ == Section::None) {
            Warn(Quoted(key) + " stands before any section, ignored");
            return;
        }
        const bool defaults = section_ == Section::Defaults;
        if (!IsSecurityKey(name) && name != "BALLOONS" && name != "CAPABILITIES") {
            // Only the key: an unknown key's value could be anything, a password too.
            Warn("unknown key " + Quoted(key) + ", ignored");
            return;
        }
        if (name == "BALLOONS" && !defaults) {
            Warn("Balloons belongs in [Defaults], ignored");
            return;
        }
        if (name == "PIN" && defaults) {
            Warn("Pin belongs in a [Server host] section, ignored");
            return;
        }
        const KeyPlace place{defaults ? 0 : server_ + 1, name};
        const auto first = seen_.find(place);
        if (first != seen_.end()) {
            Warn(std::string(key) + " given again (first on line " + std::to_string(first->second) +
                 "), ignored");
            return;
        }
        if (Apply(name, key, value, defaults))
            seen_.emplace(place, lineNumber_);
        else if (IsSecurityKey(name))
            Unreadable();
    }

    void WarnPinsWithoutTls() {
        for (size_t i = 0; i < result_.Servers.size(); ++i) {
            const AgentSettingsFile::Server& server = result_.Servers[i];
            if (server.Pin.empty() || server.Tls.value_or(result_.DefaultTls) != TlsMode::Off)
                continue;
            lineNumber_ = seen_.at({i + 1, "PIN"});
            Warn("Pin for " + Quoted(server.Host) +
                 " without TLS: its password is never sent in clear text, except on port " +
                 std::to_string(kImplicitTlsPort) + " (implicit TLS)");
        }
    }

    // Stores one known key's value; false (with a warning) when the value is not one of its.
    bool Apply(const std::string& name, std::string_view key, std::string_view value,
               bool defaults) {
        AgentSettingsFile::Server* server = defaults ? nullptr : &result_.Servers[server_];
        if (name == "PIN") {
            const std::optional<std::vector<CertificatePin>> pins = ParsePins(value);
            if (!pins) {
                Warn(Quoted(value) + " is not a SHA-256 fingerprint (64 hex digits) for Pin, "
                                     "ignored");
                return false;
            }
            server->Pin = PinsText(*pins);
            return true;
        }
        if (name == "TLS") {
            const std::optional<TlsMode> mode = ParseTlsMode(value);
            if (!mode)
                return Unknown(value, key);
            if (defaults)
                result_.DefaultTls = *mode;
            else
                server->Tls = *mode;
            return true;
        }
        const std::optional<bool> yes = ParseYesNo(value);
        if (!yes)
            return Unknown(value, key);
        if (name == "BALLOONS")
            result_.Balloons = *yes;
        else if (name == "CAPABILITIES" && defaults)
            result_.Capabilities = *yes;
        else if (name == "CAPABILITIES")
            server->Capabilities = *yes;
        else if (defaults)
            result_.AllowClearPasswords = *yes;
        else
            server->AllowClearPasswords = *yes;
        return true;
    }

    bool Unknown(std::string_view value, std::string_view key) {
        Warn("unknown value " + Quoted(value) + " for " + std::string(key) + ", ignored");
        return false;
    }

    AgentSettingsFile result_;
    Section section_ = Section::None;
    size_t server_ = 0;
    size_t lineNumber_ = 0;
    std::map<KeyPlace, size_t> seen_; // the line that set each key
};

} // namespace

const AgentSettingsFile::Server* AgentSettingsFile::FindServer(std::string_view host) const {
    for (const Server& server : Servers)
        if (SameTextAscii(server.Host, host))
            return &server;
    return nullptr;
}

ServerSettings AgentSettingsFile::TlsFor(std::string_view serverField) const {
    ServerSettings settings;
    settings.Mode =
        ServerPortPart(serverField) == kImplicitTlsPort ? TlsMode::Implicit : DefaultTls;
    settings.AllowClearPasswords = AllowClearPasswords;
    settings.Capabilities = Capabilities;
    bool unreadable = UnreadableDefaults;
    if (const Server* server = FindServer(ServerHostPart(serverField))) {
        if (server->Tls)
            settings.Mode = *server->Tls;
        if (server->AllowClearPasswords)
            settings.AllowClearPasswords = *server->AllowClearPasswords;
        settings.Capabilities = server->Capabilities.value_or(settings.Capabilities);
        settings.Pin = server->Pin;
        unreadable = unreadable || server->Unreadable;
    }
    // What the file cannot say for sure, and a pin that no TLS session could check, never
    // let a password go in clear text.
    if (unreadable || (!settings.Pin.empty() && settings.Mode == TlsMode::Off))
        settings.AllowClearPasswords = false;
    return settings;
}

AgentSettingsFile ParseAgentIni(std::string_view text) {
    return Parser().Parse(text);
}

} // namespace pw
