// The flag file's count; see FlagFile.h.
#include "FlagFile.h"

#include "Text.h"

namespace pw {

int32_t FlagFileCount(std::string_view text) {
    const auto lines = SplitLines(text);
    return lines.empty() ? 0 : StrToIntDef(lines.front(), 0);
}

} // namespace pw
