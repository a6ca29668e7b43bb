// Retrieval of new mail by the stand-in client; see MailRetrieval.h.
#include "MailRetrieval.h"

#include <windows.h>

#include <set>
#include <utility>

#include "Pop3Connection.h"
#include "StandInFiles.h"
#include "StandInLog.h"
#include "core/Delimited.h"
#include "core/Errors.h"
#include "core/Text.h"

namespace pw {

namespace {

constexpr std::size_t kMaxAccountsFileBytes = 4 * 1024 * 1024;
constexpr std::size_t kMaxKnownIdsFileBytes = 64 * 1024 * 1024;
constexpr std::size_t kMaxListingBytes = 8 * 1024 * 1024;
constexpr std::size_t kMaxMessageBytes = 32 * 1024 * 1024;

struct ListedMessage {
    int number;
    std::string id;
};

// "n id" lines of a UIDL listing; malformed lines are skipped. The id is the trimmed text after
// the first blank, as the agent takes it from a single "UIDL n" reply.
std::vector<ListedMessage> ParseUidlListing(std::string_view text) {
    std::vector<ListedMessage> result;
    for (const std::string& line : SplitLines(text)) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos)
            continue;
        const std::optional<int32_t> number = TryStrToInt(std::string_view(line).substr(0, blank));
        std::string id = Trim(std::string_view(line).substr(blank + 1));
        if (number && *number > 0 && !id.empty())
            result.push_back({*number, std::move(id)});
    }
    return result;
}

std::set<std::string> ReadKnownIds(const std::string& path) {
    std::set<std::string> ids;
    if (const auto text = ReadWholeFile(path, kMaxKnownIdsFileBytes)) {
        for (const std::string& line : SplitLines(*text))
            ids.insert(Trim(GetDelimitedField(1, line, ';')));
    }
    return ids;
}

// An id that cannot stand as field 1 of a known-ids line: the agent would never find it.
bool IsRecordableId(std::string_view id) {
    for (char c : id) {
        if (static_cast<unsigned char>(c) < 0x20 || c == ';')
            return false;
    }
    return !id.empty();
}

std::string FileNamePart(std::string_view text) {
    std::string result;
    for (char c : text.substr(0, 60)) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_' || c == '@';
        result += keep ? c : '_';
    }
    return result;
}

void SaveMessage(const std::string& folder, std::string_view address, std::string_view id,
                 std::string_view text, StandInLog& log) {
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path =
        folder + "\\" + FileNamePart(address) + "_" + FileNamePart(id) + ".eml";
    if (!RewriteFile(path, text))
        log.Write("cannot save " + path);
}

class MailboxRun {
public:
    MailboxRun(const AccountRecord& account, const RetrievalSettings& settings, StandInLog& log)
        : account_(account), settings_(settings), log_(log),
          label_("mailbox " + Printable(account.AccountAddress.str()) + ": ") {}

    int Retrieved() const { return retrieved_; }

    void Run(const std::string& knownIdsPath) {
        const std::string& user = account_.AccountUser;
        const std::string& server = account_.AccountServer;
        log_.Write(label_ + "connecting to " + Printable(server) + " as " + Printable(user));
        Pop3Connection pop(server, settings_.timeoutMs, settings_.sessionLimitMs);
        const ServerSettings security = settings_.security.TlsFor(server);
        const TlsPeer peer{std::string(ServerHostPart(server)), security.Pin};
        if (security.Mode == TlsMode::Implicit)
            pop.StartTls(peer);
        pop.ReadGreeting();
        if (security.Mode == TlsMode::Stls) {
            pop.Command("STLS");
            pop.StartTls(peer);
        }
        if (security.Mode != TlsMode::Off)
            log_.Write(label_ + "TLS established");
        pop.Command("USER " + user);
        pop.Command("PASS " + account_.AccountPassword.str());
        pop.Command("UIDL");
        const std::vector<ListedMessage> listing =
            ParseUidlListing(pop.ReadMultiLine(kMaxListingBytes));
        std::set<std::string> known = ReadKnownIds(knownIdsPath);
        std::vector<ListedMessage> fresh;
        for (const ListedMessage& message : listing) {
            if (known.count(message.id) != 0)
                continue;
            if (!IsRecordableId(message.id)) {
                log_.Write(label_ + "message " + std::to_string(message.number) +
                           " skipped: its id cannot be recorded");
                continue;
            }
            known.insert(message.id);
            fresh.push_back(message);
        }
        log_.Write(label_ + std::to_string(listing.size()) + " on the server, " +
                   std::to_string(fresh.size()) + " new");
        for (const ListedMessage& message : fresh)
            Retrieve(pop, message, knownIdsPath);
        pop.Command("QUIT");
    }

private:
    void Retrieve(Pop3Connection& pop, const ListedMessage& message,
                  const std::string& knownIdsPath) {
        pop.Command("RETR " + std::to_string(message.number));
        bool truncated = false;
        const std::string text = pop.ReadMultiLine(kMaxMessageBytes, &truncated);
        ++retrieved_;
        log_.Write(label_ + "retrieved message " + std::to_string(message.number) + " id " +
                   Printable(message.id) + ", " + std::to_string(text.size()) + " bytes" +
                   (truncated ? " (cut)" : ""));
        if (!settings_.saveFolder.empty())
            SaveMessage(settings_.saveFolder, account_.AccountAddress.str(), message.id, text,
                        log_);
        // One line at a time, so that an interrupted run keeps what it has fetched.
        if (!AppendToFile(knownIdsPath, message.id + ";" + LocalTimestamp() + "\r\n"))
            throw EInOutError("Cannot write " + knownIdsPath);
    }

    const AccountRecord& account_;
    const RetrievalSettings& settings_;
    StandInLog& log_;
    std::string label_;
    int retrieved_ = 0;
};

} // namespace

MailboxSelection MailboxSelection::FromList(std::string_view list) {
    std::vector<std::string> addresses;
    const int count = CountDelimitedFields(list, '^');
    for (int i = 1; i <= count; ++i) {
        std::string address = Trim(GetDelimitedField(i, list, '^'));
        if (!address.empty())
            addresses.push_back(std::move(address));
    }
    return Only(std::move(addresses));
}

bool MailboxSelection::Includes(std::string_view address) const {
    if (all_)
        return true;
    for (const std::string& listed : addresses_) {
        if (SameTextAscii(listed, TrimView(address)))
            return true;
    }
    return false;
}

std::string KnownIdsFileName(std::string_view user, std::string_view server) {
    const std::string name = std::string(user) + "@" + std::string(server) + ".MES";
    if (user.empty() || server.empty() || name.size() >= MAX_PATH)
        return std::string();
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view("\\/<>\"|?*").find(c) != std::string_view::npos)
            return std::string();
    }
    return name;
}

AccountTable LoadAccounts(StandInLog& log) {
    const auto text = ReadWholeFile("vtMailDa.dat", kMaxAccountsFileBytes);
    if (!text) {
        log.Write("accounts: no readable vtMailDa.dat");
        return AccountTable();
    }
    AccountTable table = ReadAccountsFile(*text);
    log.Write("accounts: " + std::to_string(table.AccountCount) + " watched in vtMailDa.dat");
    return table;
}

int RetrieveNewMail(const AccountTable& accounts, const MailboxSelection& selection,
                    const RetrievalSettings& settings, StandInLog& log) {
    int total = 0;
    for (int i = 0; i < accounts.AccountCount; ++i) {
        const AccountRecord& account = accounts.Records[i];
        const std::string& address = account.AccountAddress;
        if (!selection.Includes(address))
            continue;
        const std::string label = "mailbox " + Printable(address) + ": ";
        if (address.find('@') == std::string::npos) {
            log.Write(label + "skipped, the address has no \"@\"");
            continue;
        }
        const std::string knownIdsPath =
            KnownIdsFileName(account.AccountUser.str(), account.AccountServer.str());
        if (knownIdsPath.empty()) {
            log.Write(label + "skipped, no usable known-ids file name for its user and server");
            continue;
        }
        MailboxRun run(account, settings, log);
        try {
            run.Run(knownIdsPath);
            log.Write(label + std::to_string(run.Retrieved()) + " retrieved");
        } catch (const std::exception& e) {
            log.Write(label + "failed after " + std::to_string(run.Retrieved()) +
                      " retrieved: " + Printable(e.what()));
        }
        total += run.Retrieved();
    }
    log.Write("retrieval: " + std::to_string(total) + " retrieved in total");
    return total;
}

} // namespace pw
