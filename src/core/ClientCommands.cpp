// The client's commands and the report lines; see ClientCommands.h.
#include "ClientCommands.h"

#include "Text.h"

namespace pw {

std::string ReportEntry(std::string_view accountUser, std::string_view server,
                        std::string_view popUser, std::string_view address,
                        std::string_view password, int32_t newCount) {
    std::string line;
    for (std::string_view field : {accountUser, server, popUser, address, password}) {
        line.append(field.data(), field.size());
        line += '^';
    }
    return line + std::to_string(newCount);
}

ClientCommand ParseClientCommand(std::string_view poked) {
    const auto lines = SplitLines(poked);
    const std::string first = lines.empty() ? std::string() : lines.front();
    ClientCommand command;
    if (StartsWith(first, "DONE:")) {
        command.kind = ClientCommand::Done;
        command.argument = first.substr(5);
    } else if (StartsWith(first, "CLOSE")) {
        command.kind = ClientCommand::Close;
    } else if (StartsWith(first, "NEWTIME:")) {
        command.kind = ClientCommand::NewTime;
        command.argument = Trim(std::string_view(first).substr(8));
    } else if (StartsWith(first, "STOP")) {
        command.kind = ClientCommand::Stop;
    } else if (StartsWith(first, "START")) {
        command.kind = ClientCommand::Start;
    } else if (StartsWith(first, "CHECK")) {
        command.kind = ClientCommand::Check;
    }
    return command;
}

} // namespace pw
