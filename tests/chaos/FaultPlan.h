// The seeded plan of the fault-injection run: which calls of a mailbox session fail or
// misbehave and how, what the dial-up library does in a check, what the client's files do at
// start-up, and when a tray message and "CLOSE" arrive. A check's plan depends on its seed
// alone, so that one check can be run again by itself.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pw::chaos {

// Where a fault strikes: a platform call, or a notice the platform sends back.
enum class Site {
    // Winsock, by the socket.
    WsaStartup,
    CreateSocket,
    HostLookup,       // WSAAsyncGetHostByName
    HostLookupNotice, // its completion message
    AsyncSelect,
    Connect,
    ConnectNotice, // FD_CONNECT
    Send,
    Recv,
    ReadNotice,  // FD_READ
    CloseNotice, // FD_CLOSE
    CloseSocket,
    // Secure Channel, by the TLS channel.
    AcquireCredentials,
    InitializeContext,
    Encrypt,
    Decrypt,
    QueryAttributes,
    ApplyControlToken,
};

enum class Effect {
    Fail,       // the call fails with the code (a notice carries it as its error)
    Partly,     // send: only some of the bytes; recv: fewer bytes than there are (code: at most)
    WouldBlock, // "not yet" (WSAEWOULDBLOCK), with the notice Windows then sends
    Delay,      // a notice comes code milliseconds late
    Twice,      // a notice comes a second time, when there is nothing more to read
};

struct FaultKind {
    const char* name;
    Site site;
    Effect effect;
    std::vector<int64_t> codes; // the codes Windows documents for the call (Fail), or amounts
    int ordinals;               // strikes one of the first `ordinals` calls of its site
    // A fault that a sound program rides out: the mailbox must come out as without it.
    bool benign;
};

const std::vector<FaultKind>& FaultKinds();

// One fault of a mailbox session: the n-th call of the kind's site (1-based).
struct PlannedFault {
    size_t kind = 0;
    int ordinal = 1;
    int64_t code = 0;
};

// What the dial-up library does in a check.
struct RasPlan {
    bool lineUp = false;     // a connection with an address is up already: nothing is dialled
    std::string callFailure; // a "callfail" line for the simulated library, or empty
    std::string dialOutcome; // "connect 3", "fail 678 2", "refuse 633"
    std::string function;    // the failing call, for the tally ("RasDialA", "progress notice")
    int64_t code = 0;
};

// The client's files at start-up: how many opens each one refuses with a sharing violation.
struct StartupPlan {
    std::map<std::string, int> lockedOpens; // file name -> refused opens (kForGood: all)
    static constexpr int kForGood = 1000000;
};

struct CheckPlan {
    uint32_t seed = 0;
    std::map<std::string, std::vector<PlannedFault>> sessions; // by mailbox address
    RasPlan ras;
    bool newCredentials = false; // Secure Channel's credentials are acquired anew in this check
    bool silent = false;         // the flaky server says nothing
    bool newMail = false;        // gamma has a new message
    // A tray message and a "CLOSE" poke at the n-th socket call of the check (0: none).
    int pokeAt = 0;
};

// A small, fully specified generator: the same seed gives the same plan on every platform.
class Random {
public:
    explicit Random(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {}
    uint32_t Next();
    // 0 .. n-1; n > 0.
    uint32_t Below(uint32_t n) { return Next() % n; }
    bool Chance(uint32_t percent) { return Below(100) < percent; }
    template <typename T> const T& Pick(const std::vector<T>& values) {
        return values[Below(static_cast<uint32_t>(values.size()))];
    }

private:
    uint64_t state_;
};

// The plan of a check of the given mailboxes (in table order); tls: which of them use TLS.
CheckPlan MakeCheckPlan(uint32_t seed, const std::vector<std::string>& mailboxes,
                        const std::vector<bool>& tls, int faultsPerCheck);

// The start-up of a life whose first check has this seed.
StartupPlan MakeStartupPlan(uint32_t seed, const std::vector<std::string>& files);

// "recv fails 10054" and the like, for the tally and for messages.
std::string Describe(const PlannedFault& fault);

} // namespace pw::chaos
