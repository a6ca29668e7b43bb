// The header of one mail message as a list of raw lines, with the field lookup that unfolds
// continuation lines and decodes MIME encoded words.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "Component.h"

namespace pw {

class TMemoryStream;

class TmsHeaders {
public:
    // Processes pending window messages while a looked-up value is being decoded.
    MessagePump ProcessMessages;

    size_t Count() const { return lines_.size(); }
    const std::string& operator[](size_t index) const { return lines_.at(index); }
    const std::vector<std::string>& Lines() const { return lines_; }

    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Clear() { lines_.clear(); }

    // Replaces the lines by the text from the stream's position to its end, split at each
    // line end (CR LF, LF or a lone CR).
    void LoadFromStream(TMemoryStream& stream);

    // The value of the first line that begins with the name (a to z compared upper-cased),
    // with its continuation lines appended; empty when no line does.
    std::string GetFieldValue(std::string_view name) const;

    // Drops the first empty line and every line after it.
    void TruncateAtBody();

private:
    std::vector<std::string> lines_;
};

} // namespace pw
