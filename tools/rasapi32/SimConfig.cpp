// Parser of the simulated RAS configuration; see SimConfig.h and README.md.
#include "SimConfig.h"

#include "core/Text.h"

namespace pw::rassim {

namespace {

// Splits "keyword rest" at the first blank; the rest is trimmed.
std::pair<std::string, std::string_view> SplitKeyword(std::string_view line) {
    size_t end = 0;
    while (end < line.size() && !IsBlankOrControl(line[end]))
        ++end;
    return {UpperCaseAscii(line.substr(0, end)), TrimView(line.substr(end))};
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlankOrControl(text[i]))
            ++i;
        const size_t start = i;
        while (i < text.size() && !IsBlankOrControl(text[i]))
            ++i;
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

class Parser {
public:
    SimConfig Parse(std::string_view text) {
        const std::vector<std::string> lines = SplitLines(text);
        for (size_t i = 0; i < lines.size(); ++i) {
            lineNumber_ = i + 1;
            ParseLine(TrimView(lines[i]));
        }
        return std::move(config_);
    }

private:
    void ParseLine(std::string_view line) {
        if (line.empty() || line.front() == '#')
            return;
        const auto [keyword, rest] = SplitKeyword(line);
        const std::vector<std::string_view> args = Words(rest);
        if (keyword == "DELAY") {
            const auto ms = args.size() == 1 ? ParseNumber(args[0]) : std::nullopt;
            if (!ms || *ms > kMaxDelayMs)
                return Problem("delay needs milliseconds up to 10000");
            config_.delayMs = *ms;
        } else if (keyword == "ENTRY") {
            if (rest.empty())
                return Problem("entry needs a name");
            config_.entries.push_back({});
            config_.entries.back().name = std::string(rest);
            block_ = Block::Entry;
        } else if (keyword == "CONNECTION") {
            ParseConnection(rest);
        } else if (keyword == "IP" || keyword == "PROJERR") {
            ParseLineInfo(keyword, rest, args);
        } else if (keyword == "USER" || keyword == "PASSWORD" || keyword == "DOMAIN") {
            if (block_ != Block::Entry)
                return Problem(keyword + " outside an entry");
            PhoneBookEntry& entry = config_.entries.back();
            if (keyword == "USER")
                entry.user = std::string(rest);
            else if (keyword == "DOMAIN")
                entry.domain = std::string(rest);
            else
                entry.password = std::string(rest);
        } else if (keyword == "CALLFAIL") {
            ParseCallFailure(args);
        } else if (keyword == "CONNECT" || keyword == "FAIL" || keyword == "REFUSE" ||
                   keyword == "SILENT") {
            ParseDial(keyword, args);
        } else {
            Problem("unknown keyword");
        }
    }

    void ParseCallFailure(const std::vector<std::string_view>& args) {
        const auto code = args.size() == 3 ? ParseNumber(args[1]) : std::nullopt;
        const auto ordinal = args.size() == 3 ? ParseNumber(args[2]) : std::nullopt;
        if (!code || *code == 0 || !ordinal || *ordinal == 0)
            return Problem("callfail needs a function, a non-zero code and a call number");
        config_.callFailures.push_back({std::string(args[0]), *code, *ordinal});
    }

    void ParseConnection(std::string_view rest) {
        const auto [handleText, name] = SplitKeyword(rest);
        const auto handle = ParseNumber(handleText);
        if (!handle || *handle == 0 || name.empty())
            return Problem("connection needs a non-zero handle and an entry name");
        for (const StaticConnection& c : config_.connections) {
            if (c.handle == *handle)
                return Problem("connection handle used twice");
        }
        config_.connections.push_back({*handle, std::string(name), {}});
        block_ = Block::Connection;
    }

    void ParseLineInfo(const std::string& keyword, std::string_view rest,
                       const std::vector<std::string_view>& args) {
        LineInfo* info = nullptr;
        if (block_ == Block::Entry)
            info = &config_.entries.back().line;
        else if (block_ == Block::Connection)
            info = &config_.connections.back().line;
        else
            return Problem(keyword + " outside an entry or connection");
        if (keyword == "IP") {
            info->ip = std::string(rest);
            return;
        }
        const auto code = args.size() == 1 ? ParseNumber(args[0]) : std::nullopt;
        if (!code)
            return Problem("projerr needs an error code");
        info->projectionError = *code;
    }

    void ParseDial(const std::string& keyword, const std::vector<std::string_view>& args) {
        if (block_ != Block::Entry)
            return Problem(keyword + " outside an entry");
        std::vector<uint32_t> numbers;
        for (std::string_view arg : args) {
            const auto n = ParseNumber(arg);
            if (!n)
                return Problem("bad number");
            numbers.push_back(*n);
        }
        const auto maxSteps = static_cast<uint32_t>(kProgressStates.size());
        DialScript script;
        if (keyword == "CONNECT" && numbers.size() == 1 && numbers[0] <= maxSteps) {
            script = {DialOutcome::Connect, numbers[0], 0};
        } else if (keyword == "FAIL" && numbers.size() == 2 && numbers[0] != 0 &&
                   numbers[1] < maxSteps) {
            script = {DialOutcome::Fail, numbers[1], numbers[0]};
        } else if (keyword == "REFUSE" && numbers.size() == 1 && numbers[0] != 0) {
            script = {DialOutcome::Refuse, 0, numbers[0]};
        } else if (keyword == "SILENT" && numbers.empty()) {
            script = {DialOutcome::Silent, 0, 0};
        } else {
            return Problem("bad dial outcome");
        }
        config_.entries.back().dial = script;
    }

    void Problem(const std::string& what) {
        config_.problems.push_back("line " + std::to_string(lineNumber_) + ": " + what);
    }

    enum class Block { None, Entry, Connection };
    SimConfig config_;
    Block block_ = Block::None;
    size_t lineNumber_ = 0;
};

} // namespace

SimConfig ParseSimConfig(std::string_view text) {
    return Parser().Parse(text);
}

const PhoneBookEntry* FindEntry(const SimConfig& config, std::string_view name) {
    for (const PhoneBookEntry& entry : config.entries) {
        if (SameTextAscii(entry.name, name))
            return &entry;
    }
    return nullptr;
}

std::optional<uint32_t> ParseNumber(std::string_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > UINT32_MAX)
            return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

} // namespace pw::rassim
