// An account's server field, "host" or "host:port": one split for the socket, the settings
// file and the stand-in client. Only IPv4 addresses and names occur, so the first colon ends
// the host.
#pragma once

#include <string_view>

namespace pw {

struct ServerFieldParts {
    std::string_view Host; // the text before the first colon, all of it without one; untrimmed
    std::string_view Port; // the text after the first colon; empty without one
    bool HasPort = false;  // a colon was there
};

ServerFieldParts SplitServerField(std::string_view serverField);

// The host part, trimmed: what the settings file matches its [Server host] sections against.
std::string_view ServerHostPart(std::string_view serverField);
// The port of a server field as a decimal number (leading blanks and a sign allowed), 0 when
// there is none or it is not a number.
int ServerPortPart(std::string_view serverField);

} // namespace pw
