// Field lookup and body truncation of the header line list.
#include "Headers.h"

#include <algorithm>

#include "MemoryStream.h"
#include "MimeDecode.h"
#include "Text.h"

namespace pw {

namespace {

constexpr size_t kMaxDecodedValue = 255;

bool IsContinuationLine(const std::string& line) {
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

} // namespace

void TmsHeaders::LoadFromStream(TMemoryStream& stream) {
    const std::string& data = stream.Data();
    const size_t start = stream.Position();
    lines_ = SplitLines(std::string_view(data).substr(start));
    stream.SetPosition(data.size());
}

std::string TmsHeaders::GetFieldValue(std::string_view name) const {
    if (lines_.empty())
        return {};
    std::string key(name);
    if (key.empty() || key.back() != ':')
        key += ':';
    const std::string upperKey = UpperCaseAscii(key);

    const auto field = std::find_if(lines_.begin(), lines_.end(), [&](const std::string& line) {
        return StartsWith(UpperCaseAscii(line.substr(0, upperKey.size())), upperKey);
    });
    if (field == lines_.end())
        return {};

    // The character after the colon goes too: it is normally the blank that follows it.
    const size_t colon = field->find(':');
    std::string value = colon + 2 < field->size() ? Trim(field->substr(colon + 2)) : std::string();
    for (auto next = field + 1; next != lines_.end() && IsContinuationLine(*next); ++next)
        value += ' ' + Trim(*next);

    const std::string bareName = UpperCaseAscii(key.substr(0, key.size() - 1));
    if (bareName == "CONTENT-TYPE" || bareName == "X-UIDL")
        return value;
    value.resize(std::min(value.size(), kMaxDecodedValue));
    return DecodeEncodedWords(value, ProcessMessages);
}

void TmsHeaders::TruncateAtBody() {
    const auto blank = std::find_if(lines_.begin(), lines_.end(),
                                    [](const std::string& line) { return line.empty(); });
    lines_.erase(blank, lines_.end());
}

} // namespace pw
