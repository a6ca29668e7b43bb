// The agent's texts; see AgentTexts.h.
#include "AgentTexts.h"

namespace pw {

std::string CountdownText(int32_t minutesLeft) {
    return std::to_string(minutesLeft) + " minutes till next checking event...";
}

std::string CheckingText(std::string_view address) {
    return "Checking " + std::string(address) + " for new messages...";
}

std::string NewMailWaitingText(std::string_view address) {
    return std::string(address) + ": New messages waiting. Executing CXC for retrieval...";
}

std::string ArrivedText(int32_t count) {
    return "[ " + std::to_string(count) + " new messages currently arrived... ]";
}

std::string StalledTip(std::string_view longTime) {
    return "CXC agent: Stalled at " + std::string(longTime) + " by CXC's demand...";
}

std::string ContinuedTip(std::string_view longTime) {
    return "CXC agent: Background task continued at " + std::string(longTime) +
           " by CXC's demand...";
}

} // namespace pw
