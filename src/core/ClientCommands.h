// The commands the client pokes at the agent, and the report lines of the agent's "CHECK:" reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pw {

// One report line of the "CHECK:" reply: six fields joined by "^".
std::string ReportEntry(std::string_view accountUser, std::string_view server,
                        std::string_view popUser, std::string_view address,
                        std::string_view password, int32_t newCount);

// A command poked by the client. Only the first line counts; prefixes are tested in this order
// and with letter case.
struct ClientCommand {
    enum Kind { None, Done, Close, NewTime, Stop, Start, Check };
    Kind kind = None;
    std::string argument; // "DONE:" count text; "NEWTIME:" trimmed minutes text
};
ClientCommand ParseClientCommand(std::string_view poked);

} // namespace pw
