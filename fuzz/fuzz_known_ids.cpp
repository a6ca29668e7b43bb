// Fuzzes the known-ids file and the lookup of an id in it. The bytes before the first NUL are
// the id looked up (none when there is no NUL), the rest is the file's text.
#include "FuzzReference.h"

#include "core/Pop3Reply.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using pw::fuzz::Check;
using pw::fuzz::ReferenceTrim;

std::string_view ReferenceIdOfLine(std::string_view line) {
    return ReferenceTrim(line.substr(0, line.find(';')));
}

bool ReferenceHolds(const std::vector<std::string>& lines, std::string_view id) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return ReferenceIdOfLine(line) == id; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t nul = input.find('\0');
    const std::string_view id = nul == input.npos ? std::string_view() : input.substr(0, nul);
    const std::string_view text = nul == input.npos ? input : input.substr(nul + 1);

    const std::vector<std::string> lines = pw::SplitKnownIds(text);
    size_t total = 0;
    std::string joined;
    for (const std::string& line : lines) {
        Check(line.find_first_of("\r\n") == std::string::npos, "a line holds no line end");
        total += line.size() + 1;
        joined += line + "\n";
    }
    Check(total <= text.size() + 1, "lines are pieces of the text");
    Check(pw::SplitKnownIds(joined) == lines, "lines joined again split the same");

    Check(pw::KnownIdsHold(lines, id) == ReferenceHolds(lines, id), "lookup of the given id");

    // The first and last few lines: their own ids are known, and the lookup agrees.
    constexpr size_t kEnds = 4;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i == kEnds && lines.size() > 2 * kEnds)
            i = lines.size() - kEnds;
        const std::string lineId = pw::KnownIdOfLine(lines[i]);
        Check(lineId == ReferenceIdOfLine(lines[i]), "a line's id is its trimmed first field");
        Check(lineId.find(';') == std::string::npos, "an id holds no delimiter");
        Check(pw::KnownIdsHold(lines, lineId), "a line's own id is known");
        Check(!pw::KnownIdsHold({lines[i]}, lineId + ";"), "an id with a delimiter is never known");
    }
    return 0;
}
