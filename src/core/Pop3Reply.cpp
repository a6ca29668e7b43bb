// POP3 reply and known-ids rules; see Pop3Reply.h.
#include "Pop3Reply.h"

#include "Delimited.h"
#include "Text.h"

namespace pw {

int NumericReplyCode(std::string_view line) {
    return StrToIntDef(line.substr(0, 3), -1);
}

int Pop3ReplyCode(std::string_view line) {
    if (line.empty())
        return 0;
    return line[0] == '+' ? 1 : line[0] == '-' ? -1 : 0;
}

std::string AfterStatus(std::string_view reply) {
    return reply.size() > 4 ? std::string(reply.substr(4)) : std::string();
}

void ReadStatReply(std::string_view reply, int32_t& messageCount, int32_t& mailboxSize) {
    const std::string rest = AfterStatus(reply);
    const size_t blank = rest.find(' ');
    if (blank == std::string::npos)
        return;
    messageCount = StrToInt(std::string_view(rest).substr(0, blank));
    const std::string_view size = std::string_view(rest).substr(blank + 1);
    mailboxSize = StrToInt(size.substr(0, size.find(' ')));
}

std::string UidlReplyId(std::string_view line, const std::string& fallback) {
    const std::string_view trimmed = TrimView(line);
    if (trimmed.empty() || trimmed[0] != '+')
        return fallback;
    const std::string rest = AfterStatus(trimmed);
    const size_t blank = rest.find(' ');
    if (blank == std::string::npos)
        return fallback;
    return Trim(std::string_view(rest).substr(blank + 1));
}

std::vector<std::string> SplitKnownIds(std::string_view text) {
    return SplitLines(text);
}

std::string KnownIdOfLine(std::string_view line) {
    return Trim(GetDelimitedField(1, line, ';'));
}

bool KnownIdsHold(const std::vector<std::string>& knownIds, std::string_view id) {
    for (auto it = knownIds.rbegin(); it != knownIds.rend(); ++it)
        if (KnownIdOfLine(*it) == id)
            return true;
    return false;
}

} // namespace pw
