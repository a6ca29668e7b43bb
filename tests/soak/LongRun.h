// What the soak and the fault-injection run share: the table of watched mailboxes (on the
// scripted servers of SoakServers.h, on dovecot, over TLS) with what each check should give,
// how the agent's trace tells a mailbox's outcome, and the run's folder and settings.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "SoakServers.h"
#include "agent/PWiseF.h"
#include "support/DovecotEnv.h"
#include "support/TlsEnv.h"

namespace pw::soak {

// What a check does to one mailbox.
enum class Outcome { NotReached, Failed, LoggedInEmpty, NoNewMail, OneNewMessage, Other };

const char* OutcomeText(Outcome outcome);

enum class Role { Refused, Closes, Resets, LongLines, Plain, EmptyBox, Flaky, Fresh };

// silent: the flaky server says nothing; newMail: gamma has a new message.
Outcome Expected(Role role, bool silent, bool newMail);

struct Watched {
    Watched(std::string address, std::string server, std::string user, std::string password,
            Role role, bool tls = false)
        : address(std::move(address)), server(std::move(server)), user(std::move(user)),
          password(std::move(password)), role(role), tls(tls) {}

    std::string address;
    std::string server;
    std::string user;
    std::string password;
    Role role;
    bool tls; // reached over TLS, as "pwagent.ini" says
    // Tallies over the run.
    int asExpected = 0;
    std::map<Outcome, int> seen;
    std::string firstFailure;
};

// What the check's trace says about one mailbox: the agent's own line for it, else the mail
// component's login line. A failure's text goes to failure.
Outcome Observe(const std::vector<std::string>& trace, const Watched& box, std::string& failure);

// Adds one check's outcome to the mailbox's tallies.
void Count(Watched& box, Outcome got, bool asExpected, const std::string& failure);
// The tallies of every mailbox, one line each.
void PrintMailboxOutcomes(const std::vector<Watched>& boxes, int checks);

bool Traced(const std::vector<std::string>& trace, const std::string& text);

// The table in its order: failing mailboxes before healthy ones, gamma (new mail now and then)
// last. Dovecot's mailboxes are its users firstUser and firstUser + 1; the TLS ones need both
// dovecot and the TLS peers. Writes the known-ids files into the current directory.
std::vector<Watched> WatchedMailboxes(const ServerHost& host,
                                      const std::optional<test::DovecotEnv>& dovecot,
                                      std::size_t firstUser,
                                      const std::optional<test::TlsEnv>& tls);

// "pwagent.ini" for the TLS mailboxes of the table.
std::string TlsSettings();

// Connections each scripted server takes in check number check (from 1) when it reaches every
// mailbox.
std::array<std::size_t, kServerCount> ExpectedConnections(int check);

// The agent's surroundings in a long run: stand-alone mode in dir with the given time-out, no
// sound; a program it starts is a problem (there is none to start), and its end cancels the
// mailbox wait of the agent that ended() returns (it may be none yet) and says so through it.
AgentEnvironment RunEnvironment(const std::string& dir, int timeOut,
                                std::function<void(const std::string&)> problem,
                                std::function<TPlaceHolder*()> ended);

// A whole number from the command line or the environment; the fallback when neither has one.
int Setting(const char* text, const char* what, int fallback, int largest);

void Banner(const std::string& text);

// A folder of its own (emptied) for the agent's files, made the current directory: the
// known-ids files are read from there. Holds the flag file.
std::string PrepareRunFolder(const std::string& name);

std::string ProgramPath();

} // namespace pw::soak
