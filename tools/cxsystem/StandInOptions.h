// The stand-in client's command line: "/PWGM" retrieves and exits, "/EXITAFTER:ms" closes the
// window after that time; "/NODDE" serves no DDE, "/REFUSEADVISE" refuses the agent's advise
// link, "/NODONE" never answers "GET:", "/CHECKFIRST" answers "GET:" only after it has asked the
// agent for a "CHECK" and received the "CHECK:" reply. Any other text (such as the agent's
// "addr1^addr2") is kept for the log and otherwise treated like a plain start.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pw {

struct StandInOptions {
    bool retrieve = false;               // "/PWGM"
    std::optional<unsigned> exitAfterMs; // "/EXITAFTER:ms"
    bool noDde = false;                  // "/NODDE"
    bool refuseAdvise = false;           // "/REFUSEADVISE"
    bool noDone = false;                 // "/NODONE"
    bool checkFirst = false;             // "/CHECKFIRST"
    std::string otherText;               // the remaining words, joined by one blank
};

// Parses the command line after the program name. Switches are matched without regard to
// letter case; a malformed "/EXITAFTER:" counts as other text.
StandInOptions ParseStandInCommandLine(std::string_view arguments);

// A whole number of milliseconds up to about 24 days; empty when the text is not one.
std::optional<unsigned> ParseMilliseconds(std::string_view text);

} // namespace pw
