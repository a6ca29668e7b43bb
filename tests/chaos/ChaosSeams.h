// The seams the fault-injection run works through, gathered: the Winsock filter, the Secure
// Channel table, the opener of the client's files, the simulated RAS library (by its own exports,
// to list the lines that are up), and the thread that pokes the agent.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ChaosRun.h"
#include "Poker.h"
#include "WinsockFaults.h"
#include "support/SspiCalls.h"
#include "win/Handles.h"

namespace pw::chaos {

class ChaosRun::Seams {
public:
    Seams();
    ~Seams();

    WinsockFaults winsock;
    test::SspiCalls sspi;
    Poker poker{"pwagent"};

    // The client's files refuse this many opens each (by file name, any letter case) until
    // Unlock; refusedOpens counts what was refused.
    void Lock(const std::map<std::string, int>& lockedOpens);
    void Unlock();
    int RefusedOpens(const std::string& file) const;

    // The dial-up lines of the simulated library that are up, by entry name.
    std::vector<std::string> RasLines() const;
    // Forgets every dial of the simulated library (a line a failed hang-up left up).
    void ResetRas() const;

private:
    std::map<std::string, int> locked_;
    std::map<std::string, int> refused_;
    UniqueModule ras_;
};

} // namespace pw::chaos
