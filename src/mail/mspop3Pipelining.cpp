// The POP3 client's capabilities and pipelined commands; see mspop3.h. A server is asked "CAPA"
// once; where it allows PIPELINING, commands that do not depend on each other's replies go in
// one send, and every reply is read in order, negative or not, so that the dialogue never falls
// out of step.
#include "mspop3.h"

#include "core/Errors.h"
#include "core/MemoryStream.h"
#include "core/Pop3Reply.h"
#include "core/ScopeExit.h"
#include "core/Text.h"
#include "win/Trace.h"

namespace pw {

namespace {
// A capability list is a few hundred bytes; a longer one ends the session (and is no list).
constexpr size_t kMaxCapabilityList = 64 * 1024;
} // namespace

std::string TmsCustomPOP::CapabilitiesKey() const {
    return UpperCaseAscii(HostPart()) + ":" + std::to_string(PeerPort());
}

const Pop3Capabilities* TmsCustomPOP::ServerCapabilities() const {
    const auto found = capabilities_.find(CapabilitiesKey());
    return found == capabilities_.end() ? nullptr : &found->second;
}

bool TmsCustomPOP::Pipelining() const {
    const Pop3Capabilities* capabilities = ServerCapabilities();
    return AskCapabilities && capabilities != nullptr && capabilities->Pipelining;
}

bool TmsCustomPOP::LearnCapabilities() {
    Pop3Capabilities learnt;
    bool inStep = true;
    try {
        SendLine("CAPA");
        const int code = ReadReply(LastReply);
        if (code == 1) {
            const size_t bound = MaxMultiLineSize;
            MaxMultiLineSize = kMaxCapabilityList;
            const ScopeExit restore([this, bound] { MaxMultiLineSize = bound; });
            TMemoryStream list;
            ReadMultiLine(list, 0, true);
            learnt = ParseCapabilities(list.Data());
        } else {
            // "-ERR": none, and the dialogue goes on. A close, or a reply that is neither, leaves
            // nothing to go on with.
            inStep = code == -1 && IsSocketOpen() && !PeerClosed();
        }
    } catch (const std::exception& e) {
        TraceCaught(SessionName() + ": CAPA", e);
        if (dynamic_cast<const ECanceledError*>(&e) != nullptr)
            throw;
        inStep = false;
    }
    capabilities_[CapabilitiesKey()] = learnt;
    Trace(SessionName() + ": capabilities: " + CapabilitiesText(learnt));
    if (!inStep) {
        Trace(SessionName() + ": a new session after CAPA");
        Close();
    }
    return inStep;
}

int TmsCustomPOP::ReadOwedReply() {
    LastReply.clear();
    return IsSocketOpen() ? ReadReply(LastReply) : ReplyCode(LastReply);
}

void TmsCustomPOP::PipelinedLogin() {
    repliesOwed_ = true;
    SendLines({"USER " + UserName, "PASS " + Password, "STAT"});
    // A refused USER makes PASS fail too: the first refusal is the one to tell, once STAT's
    // reply is in.
    std::optional<std::string> refused;
    for (int step = 0; step < 2; ++step)
        if (ReadOwedReply() != 1 && !refused)
            refused = LastReply;
    const int stat = ReadOwedReply();
    repliesOwed_ = false;
    if (refused)
        throw EServerError(*refused);
    Stage_ = TStage::LoggedIn;
    if (stat != 1)
        throw EServerError(LastReply);
    ReadStatReply(LastReply, MessageCount, MailboxSize);
}

void TmsRemotePOP::SendMessageCommands(int32_t& sent, int32_t lowest) {
    std::vector<std::string> lines;
    while (sent > lowest) {
        const std::string number = std::to_string(sent--);
        lines.insert(lines.end(), {"LIST " + number, "TOP " + number + " 1", "UIDL " + number});
    }
    if (lines.empty())
        return;
    repliesOwed_ = true;
    SendLines(lines);
}

std::optional<std::string> TmsRemotePOP::TakeMessageInfo(TmsRemoteInfoItem& item,
                                                         std::string& uidlReply) {
    std::optional<std::string> refused;
    if (ReadOwedReply() == 1)
        item.Size = ListedSize(LastReply);
    else
        refused = LastReply;
    if (ReadOwedReply() == 1)
        ReadHeaders(item);
    else if (!refused)
        refused = LastReply;
    ReadOwedReply();
    uidlReply = LastReply;
    return refused;
}

void TmsRemotePOP::SkipMessageReplies(int32_t messages) {
    for (int32_t skipped = 0; skipped < messages; ++skipped) {
        TmsRemoteInfoItem item;
        std::string uidl;
        TakeMessageInfo(item, uidl);
    }
}

} // namespace pw
