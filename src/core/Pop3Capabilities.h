// What a POP3 server says of itself in its answer to "CAPA": the capabilities the agent uses
// (PIPELINING, LOGIN-DELAY) or keeps for the trace. Read from the reply's bytes, all of them
// untrusted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pw {

struct Pop3Capabilities {
    bool Pipelining = false;
    bool RespCodes = false;
    bool AuthRespCode = false;
    bool Stls = false;
    bool Top = false;
    bool Uidl = false;
    // LOGIN-DELAY: the fewest seconds the server wants between two logins, when it gave a
    // number (a larger one than 32 bits hold is taken as the largest).
    std::optional<uint32_t> LoginDelaySeconds;
};

// The capabilities in a CAPA reply's lines after its status line, as they arrive: lines end in
// CR LF or LF, each a tag (any letter case) and its arguments; the line "." ends the list and a
// dot-stuffed line loses its first dot. Tags the agent does not know are skipped.
Pop3Capabilities ParseCapabilities(std::string_view body);

// The capabilities kept, as the trace names them ("PIPELINING LOGIN-DELAY 900 UIDL"), or
// "none".
std::string CapabilitiesText(const Pop3Capabilities& capabilities);

} // namespace pw
