// The POP3 client's rules on reply lines and on the known-ids file: the status of a line, the
// numbers of a STAT reply, the id in a UIDL reply, and the lookup of an id among known ones.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pw {

// The socket's own rule: the first three characters as a decimal integer, -1 when they are not.
int NumericReplyCode(std::string_view line);

// The POP3 rule: "+" is 1, "-" is -1, anything else (an empty line too) 0.
int Pop3ReplyCode(std::string_view line);

// The reply without its status word and the blank after it ("+OK ").
std::string AfterStatus(std::string_view reply);

// Reads "+OK count size" into the two numbers. A reply with no blank after the count ("+OK",
// "+OK 3") leaves both as they are; a count or size that is not a decimal integer raises
// EConvertError. The count is stored before the size is converted, so a bad size leaves the
// new count in place.
void ReadStatReply(std::string_view reply, int32_t& messageCount, int32_t& mailboxSize);

// The id of a UIDL reply line ("+OK 2 QhdPYR:00WBw1Ph7x7" gives "QhdPYR:00WBw1Ph7x7"); the
// fallback for a negative reply, an empty line or one without a blank after the number.
std::string UidlReplyId(std::string_view line, const std::string& fallback);

// The lines of a known-ids file; line ends may be CR LF, LF or CR.
std::vector<std::string> SplitKnownIds(std::string_view text);

// The id of one known-ids line: the text before the first ";" (the whole line without one),
// trimmed.
std::string KnownIdOfLine(std::string_view line);

// Whether any line's id equals id exactly (letter case counts), looking from the last line,
// the most recently fetched, to the first.
bool KnownIdsHold(const std::vector<std::string>& knownIds, std::string_view id);

} // namespace pw
