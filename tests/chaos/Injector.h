// The fault-injection run's switchboard: the platform seams (the Winsock filter, the Secure
// Channel table) ask it at every call whether the plan has a fault for this call of the mailbox
// session that runs now, and it keeps what was injected. Everything runs on the agent's thread.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "FaultPlan.h"

namespace pw::chaos {

class Injector {
public:
    static Injector& Instance();

    // The mailbox whose session runs now; empty between sessions.
    std::function<std::string()> CurrentMailbox;
    // Called at the socket call the plan names for the tray message and "CLOSE".
    std::function<void()> OnPoke;

    void BeginCheck(const CheckPlan& plan);
    // No faults (the start of a life, the checks of the dial-up set-up).
    void Pause(bool paused) { paused_ = paused; }

    // The planned fault for this call of the site in the running session, or none. A fault
    // returned counts as injected.
    const PlannedFault* Strike(Site site);
    // Every Winsock call: the poke, and the longest time between two calls of one session.
    void Touch();

    struct Injected {
        std::string mailbox;
        PlannedFault fault;
    };
    const std::vector<Injected>& InjectedThisCheck() const { return injected_; }
    // Only benign faults struck the mailbox's session in this check (or none at all).
    bool OnlyBenign(const std::string& mailbox) const;
    DWORD LongestGapMs() const { return longestGapMs_; }

    // Over the whole run: injected faults by kind, and by kind and code.
    const std::map<std::string, long>& KindTally() const { return kinds_; }
    const std::map<std::string, long>& Tally() const { return tally_; }
    long Total() const { return total_; }

private:
    Injector() = default;
    void Follow();

    const CheckPlan* plan_ = nullptr;
    bool paused_ = true;
    std::string session_;
    std::map<Site, int> calls_;
    std::vector<Injected> injected_;
    std::map<std::string, long> kinds_;
    std::map<std::string, long> tally_;
    long total_ = 0;
    int socketCalls_ = 0;
    DWORD lastCall_ = 0;
    DWORD longestGapMs_ = 0;
};

} // namespace pw::chaos
