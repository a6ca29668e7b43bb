// The server field's split; see ServerField.h.
#include "ServerField.h"

#include "Text.h"

namespace pw {

ServerFieldParts SplitServerField(std::string_view serverField) {
    const size_t colon = serverField.find(':');
    if (colon == std::string_view::npos)
        return {serverField, {}, false};
    return {serverField.substr(0, colon), serverField.substr(colon + 1), true};
}

std::string_view ServerHostPart(std::string_view serverField) {
    return TrimView(SplitServerField(serverField).Host);
}

int ServerPortPart(std::string_view serverField) {
    return StrToIntDef(SplitServerField(serverField).Port, 0);
}

} // namespace pw
