// Reader of the dial-up settings file; see DialupFile.h.
#include "DialupFile.h"

#include "Password.h"
#include "Text.h"

namespace pw {

namespace {

constexpr size_t kMaxWordLength = 32;

// Sequential reader over the file's text; lines end at CR LF, LF or a lone CR.
class TextReader {
public:
    explicit TextReader(std::string_view text) : text_(text) {}

    // The rest of the current line; empty at the end of the text.
    std::string_view ReadLine() {
        const size_t start = pos_;
        while (pos_ < text_.size() && !IsLineEnd(text_[pos_]))
            ++pos_;
        const std::string_view line = text_.substr(start, pos_ - start);
        SkipLineEnd();
        return line;
    }

    void SkipLine() { ReadLine(); }

    // Skips blanks and line ends, then takes characters up to the next blank or control
    // character (at most kMaxWordLength) and skips the rest of that line.
    std::string_view ReadWord() {
        while (pos_ < text_.size() && IsBlankOrControl(text_[pos_]))
            ++pos_;
        const size_t start = pos_;
        while (pos_ < text_.size() && pos_ - start < kMaxWordLength &&
               !IsBlankOrControl(text_[pos_]))
            ++pos_;
        const std::string_view word = text_.substr(start, pos_ - start);
        SkipLine();
        return word;
    }

private:
    static bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

    void SkipLineEnd() {
        if (Peek('\r')) {
            ++pos_;
            if (Peek('\n'))
                ++pos_;
        } else if (Peek('\n')) {
            ++pos_;
        }
    }

    bool Peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }

    std::string_view text_;
    size_t pos_ = 0;
};

// Optional sign, then the leading digits; a digit that would overflow 32 bits ends the number
// like any other character that does not fit. 0 when there are no digits.
int32_t LeadingInteger(std::string_view word) {
    size_t i = 0;
    const bool negative = !word.empty() && word[0] == '-';
    if (!word.empty() && (word[0] == '-' || word[0] == '+'))
        i = 1;
    // Accumulate towards the sign so that INT32_MIN is reachable.
    int64_t value = 0;
    for (; i < word.size() && word[i] >= '0' && word[i] <= '9'; ++i) {
        const int digit = word[i] - '0';
        const int64_t next = negative ? value * 10 - digit : value * 10 + digit;
        if (next > INT32_MAX || next < INT32_MIN)
            break;
        value = next;
    }
    return static_cast<int32_t>(value);
}

bool IsOn(std::string_view line) {
    return TrimView(line) == "1";
}

} // namespace

DialupSettings ReadDialupFile(std::string_view text, bool backgroundMode) {
    TextReader reader(text);
    DialupSettings settings;
    settings.DialEntry = reader.ReadLine();
    settings.DialUserName = reader.ReadLine();
    settings.DialPassword = UnscramblePassword(reader.ReadLine());
    if (backgroundMode)
        reader.SkipLine();
    else
        settings.CheckInterval = LeadingInteger(reader.ReadWord());
    settings.PermanentConnection = IsOn(reader.ReadLine());
    settings.NoDial = settings.PermanentConnection;
    settings.InterpretScripts = IsOn(reader.ReadLine());
    reader.SkipLine();
    settings.PrintIncoming = IsOn(reader.ReadLine());
    return settings;
}

} // namespace pw
