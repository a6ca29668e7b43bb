// The stand-in client's retrieval: for each selected watched mailbox, fetch over POP3 every
// message whose unique id is not yet in its known-ids file and record the new ids there.
// Mail is never deleted from the server.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/AccountsFile.h"
#include "core/AgentIni.h"

namespace pw {

class StandInLog;

// Which mailboxes a retrieval run covers: all, or those whose address is listed (as in the
// agent's "addr1^addr2" lists; compared trimmed, letter case ignored).
class MailboxSelection {
public:
    static MailboxSelection All() { return MailboxSelection(true, {}); }
    static MailboxSelection Only(std::vector<std::string> addresses) {
        return MailboxSelection(false, std::move(addresses));
    }
    // Splits a "^"-joined address list.
    static MailboxSelection FromList(std::string_view list);

    bool Includes(std::string_view address) const;

private:
    MailboxSelection(bool all, std::vector<std::string> addresses)
        : all_(all), addresses_(std::move(addresses)) {}
    bool all_;
    std::vector<std::string> addresses_;
};

struct RetrievalSettings {
    unsigned timeoutMs = 20000;       // each wait for the server
    unsigned sessionLimitMs = 600000; // one mailbox's whole session
    std::string saveFolder;           // where messages go as .eml; empty: not saved
    AgentSettingsFile security;       // TLS per server, as the agent's "pwagent.ini" says
};

// Reads "vtMailDa.dat" from the current directory; an empty table when it is missing.
AccountTable LoadAccounts(StandInLog& log);

// Runs the selected mailboxes in table order and returns how many messages were retrieved.
// A failing mailbox is logged and the next one is tried.
int RetrieveNewMail(const AccountTable& accounts, const MailboxSelection& selection,
                    const RetrievalSettings& settings, StandInLog& log);

// The known-ids file of a mailbox, as the agent names it: user + "@" + server + ".MES" in the
// current directory. Empty when the name could leave that directory or is not a file name.
std::string KnownIdsFileName(std::string_view user, std::string_view server);

} // namespace pw
