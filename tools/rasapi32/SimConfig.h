// The simulated phone book and connection list, parsed from the text file that
// PW_RASSIM_CONFIG names (format in README.md). Platform-free; every byte of the file is
// treated as hostile: bad lines are skipped and reported, never trusted.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pw::rassim {

// Intermediate dial states in the order the simulated line reports them before "connected".
constexpr std::array<uint32_t, 14> kProgressStates = {0, 1,  2,  3,  4,  5,  19,
                                                      6, 10, 11, 12, 14, 18, 21};

enum class DialOutcome { Connect, Fail, Refuse, Silent };

struct DialScript {
    DialOutcome outcome = DialOutcome::Connect;
    // Connect: intermediate states before "connected"; Fail: states before the failing one.
    uint32_t steps = static_cast<uint32_t>(kProgressStates.size());
    uint32_t code = 0; // Fail, Refuse: the error code
};

// What the PPP IP projection of an established line answers.
struct LineInfo {
    std::string ip;               // empty: the line has no address (the call still succeeds)
    uint32_t projectionError = 0; // non-zero: RasGetProjectionInfoA returns it
};

struct PhoneBookEntry {
    std::string name;
    std::string user;
    std::string domain;
    std::optional<std::string> password; // saved password, if any
    DialScript dial;
    LineInfo line; // of the connection a successful dial makes
};

struct StaticConnection {
    uint32_t handle = 0;
    std::string entry;
    LineInfo line;
};

// A call that fails: the ordinal-th call of the function (counted from the moment the
// configuration's text last changed) returns code instead of doing anything.
struct CallFailure {
    std::string function;
    uint32_t code = 0;
    uint32_t ordinal = 1;
};

struct SimConfig {
    uint32_t delayMs = 30; // between two progress notices
    std::vector<PhoneBookEntry> entries;
    std::vector<StaticConnection> connections;
    std::vector<CallFailure> callFailures;
    std::vector<std::string> problems; // "line N: ..." for every line that was skipped
};

constexpr uint32_t kMaxDelayMs = 10000;

SimConfig ParseSimConfig(std::string_view text);

// Phone-book names are compared without regard to letter case, as the platform does.
const PhoneBookEntry* FindEntry(const SimConfig& config, std::string_view name);

// Decimal or "0x" hexadecimal, nothing else, within 32 bits.
std::optional<uint32_t> ParseNumber(std::string_view text);

} // namespace pw::rassim
