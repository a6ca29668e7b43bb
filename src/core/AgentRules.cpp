// The agent's text rules; see AgentRules.h.
#include "AgentRules.h"

#include "Schedule.h"
#include "Text.h"

#include <cstdio>

namespace pw {

std::string CountdownText(int32_t minutesLeft) {
    return std::to_string(minutesLeft) + " minutes till next checking event...";
}

std::string CheckingText(std::string_view address) {
    return "Checking " + std::string(address) + " for new messages...";
}

std::string NewMailWaitingText(std::string_view address) {
    return std::string(address) + ": New messages waiting. Executing CXC for retrieval...";
}

std::string ArrivedText(int32_t count) {
    return "[ " + std::to_string(count) + " new messages currently arrived... ]";
}

std::string StalledTip(std::string_view longTime) {
    return "CXC agent: Stalled at " + std::string(longTime) + " by CXC's demand...";
}

std::string ContinuedTip(std::string_view longTime) {
    return "CXC agent: Background task continued at " + std::string(longTime) +
           " by CXC's demand...";
}

std::string FormatHourMinute(int hour, int minute, std::string_view separator) {
    char hh[16];
    char nn[16];
    snprintf(hh, sizeof hh, "%02d", hour);
    snprintf(nn, sizeof nn, "%02d", minute);
    return std::string(hh) + std::string(separator) + nn;
}

bool ScheduleDue(ScheduleTable& times, std::string_view nowText) {
    const ScheduleTime now = SplitScheduleTime(NormalizeScheduleEntry(nowText));
    for (std::string& entry : times) {
        entry = NormalizeScheduleEntry(entry);
        if (ScheduleEntryMatches(entry, now))
            return true;
    }
    return false;
}

int32_t FlagFileCount(std::string_view text) {
    const auto lines = SplitLines(text);
    return lines.empty() ? 0 : StrToIntDef(lines.front(), 0);
}

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

std::string DdeLogText(std::string_view text) {
    std::string masked;
    if (StartsWith(text, "CHECK:")) {
        // Report lines carry the plain password in their fifth field.
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            end = end == std::string_view::npos ? text.size() : end + 1;
            std::string line(text.substr(start, end - start));
            size_t from = 0;
            for (int field = 1; field < 5 && from != std::string::npos; ++field) {
                from = line.find('^', from);
                if (from != std::string::npos)
                    ++from;
            }
            // Up to the count, the last field: a password may itself hold "^".
            const size_t to = from == std::string::npos ? from : line.rfind('^');
            if (to != std::string::npos && to > from)
                line.replace(from, to - from, "***");
            masked += line;
            start = end;
        }
    } else {
        masked.assign(text.data(), text.size());
    }
    std::string shown;
    for (const char c : masked) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (byte < 0x20 || byte == 0x7f) {
            static const char kHex[] = "0123456789ABCDEF";
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 15];
        } else {
            shown += c;
        }
    }
    return shown;
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
