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

std::string_view NormaliseHost(std::string_view host) {
    // Until nothing changes, so that a normalised host stays as it is ("a . " too).
    for (;;) {
        std::string_view next = TrimView(host);
        while (next.size() > 1 && next.back() == '.')
            next.remove_suffix(1);
        if (next == host)
            return host;
        host = next;
    }
}

std::string_view ServerHostPart(std::string_view serverField) {
    return NormaliseHost(SplitServerField(serverField).Host);
}

int ServerPortPart(std::string_view serverField) {
    return StrToIntDef(SplitServerField(serverField).Port, 0);
}

} // namespace pw
