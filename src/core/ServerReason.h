// The reason a POP3 server gives with a negative reply: the bracketed response code at the start
// of its text ("-ERR [IN-USE] maildrop locked"), and what the agent makes of it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace pw {

enum class RespCode {
    None,       // no code, or one the agent does not know: the reply as it stands
    InUse,      // [IN-USE]: another session holds the maildrop
    LoginDelay, // [LOGIN-DELAY]: the server wants fewer logins
    SysTemp,    // [SYS/TEMP]: a failure of the moment on the server's side
    SysPerm,    // [SYS/PERM]: a lasting failure; the text says what the user must do
    Auth,       // [AUTH]: the credentials are wrong
};

struct ServerReason {
    RespCode Code = RespCode::None;
    std::string Text; // the reply's text after "-ERR" and the code, trimmed
};

// Reads the code in any letter case; a code of more levels ("SYS/TEMP/QUOTA") counts by its
// known leading ones. A reply that is not "-ERR" has no code.
ServerReason ParseServerReason(std::string_view reply);

// The reply's text fit for the user: the secret (a password the server may echo) masked, then
// cut and cleaned as balloon texts are.
std::string ServerWordsForUser(std::string_view text, std::string_view secret, size_t bound);

// Mailboxes whose server asked for fewer logins, and until when (a monotonic clock in
// milliseconds) they are not tried again.
class LoginDelays {
public:
    static constexpr uint64_t kDefaultDelayMs = 15 * 60 * 1000;
    // A server's own LOGIN-DELAY counts from a minute to a day.
    static constexpr uint64_t kLeastDelayMs = 60 * 1000;
    static constexpr uint64_t kMostDelayMs = 24 * 60 * 60 * 1000;

    // How long to wait after "[LOGIN-DELAY]": the seconds the server's capabilities gave, within
    // the bounds, else the default.
    static uint64_t DelayMs(std::optional<uint32_t> advertisedSeconds);

    void Delay(const std::string& mailbox, uint64_t until) { until_[mailbox] = until; }
    // True while the mailbox must wait; an expired delay is forgotten.
    bool Waiting(const std::string& mailbox, uint64_t now);
    uint64_t Until(const std::string& mailbox) const;

private:
    std::map<std::string, uint64_t> until_;
};

} // namespace pw
