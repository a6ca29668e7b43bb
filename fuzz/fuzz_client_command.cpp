// Fuzzes the parser of the commands the client pokes: the first line, the prefixes in their
// order, and the "DONE:" and "NEWTIME:" numbers as the agent converts them.
#include "FuzzReference.h"

#include "core/ClientCommands.h"
#include "core/Redaction.h"
#include "core/Errors.h"
#include "core/Text.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using pw::ClientCommand;
using pw::fuzz::Check;
using pw::fuzz::ReferenceDecimal;
using pw::fuzz::ReferenceFirstLine;
using pw::fuzz::ReferenceTrim;

ClientCommand::Kind ReferenceKind(std::string_view first) {
    const auto starts = [&](std::string_view prefix) {
        return first.substr(0, prefix.size()) == prefix;
    };
    if (starts("DONE:"))
        return ClientCommand::Done;
    if (starts("CLOSE"))
        return ClientCommand::Close;
    if (starts("NEWTIME:"))
        return ClientCommand::NewTime;
    if (starts("STOP"))
        return ClientCommand::Stop;
    if (starts("START"))
        return ClientCommand::Start;
    if (starts("CHECK"))
        return ClientCommand::Check;
    return ClientCommand::None;
}

// The three conversions agree with each other and with the reference.
void CheckNumber(std::string_view text) {
    const auto expected = ReferenceDecimal(text);
    const auto tried = pw::TryStrToInt(text);
    Check(tried == expected, "TryStrToInt is the reference decimal");
    Check(pw::StrToIntDef(text, 12345) == expected.value_or(12345), "StrToIntDef agrees");
    try {
        Check(pw::StrToInt(text) == expected.value_or(0) && expected, "StrToInt agrees");
    } catch (const pw::EConvertError& e) {
        Check(!expected, "StrToInt raises only for a text that is not a number");
        Check(e.Message() == "'" + std::string(text) + "' is not a valid integer value",
              "conversion error names the text");
    }
    if (expected)
        Check(pw::TryStrToInt(std::to_string(*expected)) == expected, "number round trip");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view poked(reinterpret_cast<const char*>(data), size);
    const std::string_view first = ReferenceFirstLine(poked);

    const ClientCommand command = pw::ParseClientCommand(poked);
    Check(command.kind == ReferenceKind(first), "the first matching prefix decides");
    switch (command.kind) {
    case ClientCommand::Done:
        Check(command.argument == first.substr(5), "DONE: count is the rest of the line");
        break;
    case ClientCommand::NewTime:
        Check(command.argument == ReferenceTrim(first.substr(8)),
              "NEWTIME: minutes are the trimmed rest of the line");
        break;
    default:
        Check(command.argument.empty(), "other commands carry no argument");
    }
    CheckNumber(command.argument);

    // Only the first line counts: the line alone, or followed by other lines, parses the same.
    const ClientCommand alone = pw::ParseClientCommand(first);
    Check(alone.kind == command.kind && alone.argument == command.argument, "first line only");
    const ClientCommand more = pw::ParseClientCommand(std::string(first) + "\r\nSTOP\nDONE:1");
    Check(more.kind == command.kind && more.argument == command.argument, "later lines ignored");

    // A count the client sends comes back as that number.
    if (const auto value = ReferenceDecimal(command.argument)) {
        const std::string done = "DONE:" + std::to_string(*value) + "\r\n" + std::string(poked);
        Check(pw::StrToInt(pw::ParseClientCommand(done).argument) == *value, "DONE: round trip");
    }
    return 0;
}
