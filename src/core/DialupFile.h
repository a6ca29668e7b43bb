// The client's dial-up settings file "setupRAS.RAS": the phone-book entry to dial, its
// credentials, the check interval and a few flags, one per line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pw {

struct DialupSettings {
    std::string DialEntry;
    std::string DialUserName;
    std::string DialPassword; // already unscrambled
    // Read only in stand-alone mode; empty in background mode, where the interval comes from
    // the command line and the client.
    std::optional<int32_t> CheckInterval;
    bool PermanentConnection = false;
    bool NoDial = false;
    bool InterpretScripts = false;
    bool PrintIncoming = false;
};

// Reads the file's text the way a text-file reader does: the interval is read as a word from
// the position after line 3, so an empty line 4 takes its word from a later line and the
// remaining lines move up. Missing lines read as empty; flags of missing lines are false.
DialupSettings ReadDialupFile(std::string_view text, bool backgroundMode);

} // namespace pw
