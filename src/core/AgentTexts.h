// The texts the agent shows, exactly: tool tips and the status window's lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pw {

// Tool tips and status lines, exactly as the agent shows them.
inline constexpr char kTipIdle[] = "CX-Agent: Idle...";
inline constexpr char kTipChecking[] = "CX-Agent: Checking for new messages...";
inline constexpr char kTipAsking[] = "CX-Agent: Asking CXC to retrieve pending messages...";
inline constexpr char kTipExecuting[] = "CX-Agent: Executing CXC for retrieval...";
inline constexpr char kTipRetrieved[] = "CX-Agent: New messages were retrieved";
inline constexpr char kTipClientRetrieving[] = "CX-Agent: CXC is retrieving pending messages...";
inline constexpr char kArrivedNone[] = "[ No new messages currently arrived... ]";

std::string CountdownText(int32_t minutesLeft);     // "N minutes till next checking event..."
std::string CheckingText(std::string_view address); // "Checking ADDRESS for new messages..."
std::string NewMailWaitingText(std::string_view address);
std::string ArrivedText(int32_t count); // "[ N new messages currently arrived... ]"
std::string StalledTip(std::string_view longTime);
std::string ContinuedTip(std::string_view longTime);

} // namespace pw
