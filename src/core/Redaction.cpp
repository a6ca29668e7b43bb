// Redaction of DDE texts; see Redaction.h.
#include "Redaction.h"

#include "Text.h"

namespace pw {

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

} // namespace pw
