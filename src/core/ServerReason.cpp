// Server reasons; see ServerReason.h.
#include "ServerReason.h"

#include <algorithm>

#include "MailboxAlerts.h"
#include "Text.h"

namespace pw {

namespace {
// A code is a few words; a bracket further on is part of the text.
constexpr size_t kMaxCodeLength = 64;

bool IsCode(std::string_view code, std::string_view known) {
    return code == known ||
           (code.size() > known.size() && StartsWith(code, known) && code[known.size()] == '/');
}
} // namespace

ServerReason ParseServerReason(std::string_view reply) {
    ServerReason reason;
    if (!StartsWith(reply, "-ERR"))
        return reason;
    std::string_view text = TrimView(reply.substr(4));
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close != std::string_view::npos && close <= kMaxCodeLength) {
            const std::string code = UpperCaseAscii(text.substr(1, close - 1));
            if (IsCode(code, "IN-USE"))
                reason.Code = RespCode::InUse;
            else if (IsCode(code, "LOGIN-DELAY"))
                reason.Code = RespCode::LoginDelay;
            else if (IsCode(code, "SYS/TEMP"))
                reason.Code = RespCode::SysTemp;
            else if (IsCode(code, "SYS/PERM"))
                reason.Code = RespCode::SysPerm;
            else if (IsCode(code, "AUTH"))
                reason.Code = RespCode::Auth;
            text = TrimView(text.substr(close + 1));
        }
    }
    reason.Text = std::string(text);
    return reason;
}

std::string ServerWordsForUser(std::string_view text, std::string_view secret, size_t bound) {
    std::string words(text);
    if (!secret.empty())
        for (size_t at = words.find(secret); at != std::string::npos;
             at = words.find(secret, at + 3))
            words.replace(at, secret.size(), "***");
    return FitText(words, bound);
}

uint64_t LoginDelays::DelayMs(std::optional<uint32_t> advertisedSeconds) {
    if (!advertisedSeconds)
        return kDefaultDelayMs;
    return std::clamp(uint64_t{*advertisedSeconds} * 1000, kLeastDelayMs, kMostDelayMs);
}

bool LoginDelays::Waiting(const std::string& mailbox, uint64_t now) {
    const auto found = until_.find(mailbox);
    if (found == until_.end())
        return false;
    if (now < found->second)
        return true;
    until_.erase(found);
    return false;
}

uint64_t LoginDelays::Until(const std::string& mailbox) const {
    const auto found = until_.find(mailbox);
    return found == until_.end() ? 0 : found->second;
}

} // namespace pw
