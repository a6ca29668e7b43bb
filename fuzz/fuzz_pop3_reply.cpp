// Fuzzes the POP3 reply rules with the input as one reply line: the two status rules, the STAT
// numbers with their conversion errors, and the id of a UIDL reply.
#include "FuzzReference.h"

#include "core/Errors.h"
#include "core/Pop3Reply.h"
#include "core/Text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using pw::fuzz::Check;
using pw::fuzz::ReferenceDecimal;
using pw::fuzz::ReferenceTrim;

void CheckReplyCodes(std::string_view line) {
    const int pop3 = pw::Pop3ReplyCode(line);
    const int expected = line.empty() ? 0 : line[0] == '+' ? 1 : line[0] == '-' ? -1 : 0;
    Check(pop3 == expected, "POP3 status is the first character's");

    const int numeric = pw::NumericReplyCode(line);
    Check(numeric == ReferenceDecimal(line.substr(0, 3)).value_or(-1),
          "socket status is the first three characters as a number");
    Check(numeric >= -99 && numeric <= 999, "socket status has at most three characters");
}

// Whether a call raised EConvertError naming the text it could not convert.
template <typename Call> bool RaisesConvertErrorFor(Call call, std::string_view text) {
    try {
        call();
    } catch (const pw::EConvertError& e) {
        Check(e.Message() == "'" + std::string(text) + "' is not a valid integer value",
              "conversion error names the text");
        return true;
    }
    return false;
}

void CheckStat(std::string_view line) {
    constexpr int32_t kCount = 7;
    constexpr int32_t kSize = 9;
    int32_t count = kCount;
    int32_t size = kSize;
    const auto read = [&] { pw::ReadStatReply(line, count, size); };

    const std::string_view rest = line.size() > 4 ? line.substr(4) : std::string_view();
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) {
        read();
        Check(count == kCount && size == kSize, "STAT without a blank keeps both numbers");
        return;
    }
    const std::string_view countText = rest.substr(0, blank);
    std::string_view sizeText = rest.substr(blank + 1);
    sizeText = sizeText.substr(0, sizeText.find(' '));
    const auto expectedCount = ReferenceDecimal(countText);
    const auto expectedSize = ReferenceDecimal(sizeText);
    if (!expectedCount) {
        Check(RaisesConvertErrorFor(read, countText), "bad STAT count raises");
        Check(count == kCount && size == kSize, "bad STAT count changes nothing");
        return;
    }
    if (!expectedSize) {
        Check(RaisesConvertErrorFor(read, sizeText), "bad STAT size raises");
        Check(count == *expectedCount && size == kSize, "bad STAT size keeps the new count");
        return;
    }
    read();
    Check(count == *expectedCount && size == *expectedSize, "STAT numbers are the decimals");

    // What the numbers print as reads back the same.
    int32_t again = 0;
    int32_t againSize = 0;
    pw::ReadStatReply("+OK " + std::to_string(count) + " " + std::to_string(size), again,
                      againSize);
    Check(again == count && againSize == size, "STAT round trip");
}

void CheckUidl(std::string_view line) {
    // Never a result of the rule: results are trimmed.
    const std::string fallback = "\001fallback";
    const std::string id = pw::UidlReplyId(line, fallback);

    const std::string_view trimmed = ReferenceTrim(line);
    const std::string_view rest = trimmed.size() > 4 ? trimmed.substr(4) : std::string_view();
    const bool hasId = !trimmed.empty() && trimmed[0] == '+' && rest.find(' ') != rest.npos;
    Check((id != fallback) == hasId, "UIDL id only from a positive reply with a blank");
    if (!hasId)
        return;
    Check(!id.empty() && ReferenceTrim(id) == id, "UIDL id is trimmed and not empty");
    Check(id.size() + 5 <= trimmed.size() && trimmed.substr(trimmed.size() - id.size()) == id,
          "UIDL id ends the reply");
    Check(pw::UidlReplyId("+OK 1 " + id, fallback) == id, "UIDL round trip");
    Check(pw::UidlReplyId(" +OK 12 \t" + id + " \r\n", fallback) == id, "UIDL id with blanks");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    CheckReplyCodes(line);
    CheckStat(line);
    CheckUidl(line);
    return 0;
}
