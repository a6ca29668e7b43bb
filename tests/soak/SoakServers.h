// The scripted POP3 servers of the soak. They run in a second process (this program started
// again with kServerHostArgument), so that their threads, sockets and growing transcripts stay
// out of the agent's counts; the agent's side steers them with one text line per request.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "win/Handles.h"

namespace pw::soak {

constexpr char kServerHostArgument[] = "--server-host";

// Each server goes wrong in its own way.
enum Server : int {
    kHealthy,   // the plain mailboxes alpha and beta
    kCloser,    // closes the connection right after its greeting
    kResetter,  // aborts the connection (a reset) in the middle of its TOP reply
    kLongLines, // greeting, USER reply and a header line far longer than a reply line may be
    kFlaky,     // silent in the checks it is told to be, healthy in the others
    kFresh,     // gamma: a new message in the checks it is told to have one
    kServerCount
};

const char* ServerName(Server server);

// A mailbox on a scripted server, and the id of its newest message, which the client has
// fetched already (the known-ids file holds it) unless a check brings new mail.
struct ScriptedUser {
    const char* name;
    const char* password;
    const char* knownId;
};

inline constexpr ScriptedUser kAlpha{"alpha", "pw-alpha", "alpha-1"};
inline constexpr ScriptedUser kBeta{"beta", "pw-beta", "beta-2"};
inline constexpr ScriptedUser kCloserUser{"closer", "pw-closer", "closer-1"};
inline constexpr ScriptedUser kResetUser{"resetter", "pw-resetter", "reset-1"};
inline constexpr ScriptedUser kLongUser{"long", "pw-long", "long-1"};
inline constexpr ScriptedUser kFlakyUser{"flaky", "pw-flaky", "flaky-1"};
inline constexpr ScriptedUser kGamma{"gamma", "pw-gamma", "gamma-1"};

// The main of the server host process; ends when its input ends or says "quit".
int RunServerHost();

// The agent's side: starts the server host and asks it.
class ServerHost {
public:
    explicit ServerHost(const std::string& program);
    ~ServerHost();
    ServerHost(const ServerHost&) = delete;
    ServerHost& operator=(const ServerHost&) = delete;

    uint16_t Port(Server server) const { return ports_[server]; }
    // A loopback port that nothing listens on.
    uint16_t RefusedPort() const { return refusedPort_; }

    // How the next check goes: the flaky server silent or not, gamma with new mail or not.
    void Prepare(int check, bool silent, bool newMail);

    // Connections accepted so far and sessions ended, per server. Waits a while for sessions
    // still running to end: a session the agent has left open never does.
    struct Sessions {
        std::array<std::size_t, kServerCount> accepted{};
        std::array<std::size_t, kServerCount> finished{};
    };
    Sessions CountSessions();

private:
    std::string Ask(const std::string& request);
    void Send(const std::string& line);
    std::string ReadLine();

    UniqueKernelHandle process_;
    UniqueKernelHandle toHost_;
    UniqueKernelHandle fromHost_;
    std::string pending_;
    std::array<uint16_t, kServerCount> ports_{};
    uint16_t refusedPort_ = 0;
};

} // namespace pw::soak
