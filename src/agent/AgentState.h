// The agent's process-wide state: one instance each, held by the agent and shared by the
// handlers of the check cycle, the client link and the status window. Everything runs on the
// main thread except ClientFinished, which the launcher's waiting thread sets.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace pw {

struct AgentProcessState {
    bool CheckRunning = false;               // a scheduled check is in progress
    bool StopRequested = false;              // the client asked the agent to stop checking
    bool ClientDone = false;                 // the client has answered a retrieval request
    std::atomic<bool> ClientFinished{false}; // the client started in stand-alone mode has ended
    std::string PendingAccounts;             // result of the last check
    std::vector<std::string> ReportLines;    // report entries for the client's "CHECK"
    int32_t AnimationFrame = 0;              // next tray animation frame, 0..8

    // Everything back to its state at program start.
    void Reset() {
        CheckRunning = false;
        StopRequested = false;
        ClientDone = false;
        ClientFinished = false;
        PendingAccounts.clear();
        ReportLines.clear();
        AnimationFrame = 0;
    }
};

} // namespace pw
