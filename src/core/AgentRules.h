// The agent's rules that can be stated on text: the texts it shows, the schedule decision, the
// flag file's count and the client's DDE commands.
#pragma once

#include <array>
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

// The schedule table of the settings file: 40 entries of at most 5 characters.
// The client's schedule type "2" selects the schedule table; any other value counts down.
inline bool IsScheduleTable(std::string_view scheduleType) {
    return scheduleType == "2";
}

constexpr int kScheduleEntries = 40;
using ScheduleTable = std::array<std::string, kScheduleEntries>;

// "hh" + separator + "nn" with two-digit hour and minute, as the clock is shown to the user.
std::string FormatHourMinute(int hour, int minute, std::string_view separator);

// Whether a scheduled check is due at the given "hh:nn" text. Every entry is trimmed and the
// trimmed value (cut to 5 characters) is stored back, whether or not it matches, up to the
// first match.
bool ScheduleDue(ScheduleTable& times, std::string_view nowText);

// The count on the first line of the flag file; 0 when it is not a decimal number.
int32_t FlagFileCount(std::string_view text);

// One report line of the "CHECK:" reply: six fields joined by "^".
std::string ReportEntry(std::string_view accountUser, std::string_view server,
                        std::string_view popUser, std::string_view address,
                        std::string_view password, int32_t newCount);

// A DDE text made fit for one log or trace line: the password field of every report line of a
// "CHECK:" reply becomes "***", CR and LF are shown as \r and \n, other control bytes as \xHH.
std::string DdeLogText(std::string_view text);

// A command poked by the client. Only the first line counts; prefixes are tested in this order
// and with letter case.
struct ClientCommand {
    enum Kind { None, Done, Close, NewTime, Stop, Start, Check };
    Kind kind = None;
    std::string argument; // "DONE:" count text; "NEWTIME:" trimmed minutes text
};
ClientCommand ParseClientCommand(std::string_view poked);

} // namespace pw
