// The agent's DDE conversation with the mail client; see ClientLink.h.
#include "ClientLink.h"

#include "core/AgentTexts.h"
#include "core/Redaction.h"
#include "core/Text.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

namespace {
constexpr DWORD kAdviseTimeOutMs = 1000;
// The client may still be busy with what it was last sent: pending messages (its answers, the
// end of an earlier conversation) are let through before a new conversation is opened.
constexpr int kPumpsBeforeOpening = 11;
constexpr DWORD kWaitAfterClientStartMs = 1500;

bool ClientWindowExists() {
    return FindWindowA(TClientLink::kClientWindowClass, nullptr) != nullptr;
}
} // namespace

TClientLink::TClientLink(IClientLinkHost& host, DdeInstance& dde) : host_(host), dde_(dde) {
    dde_.OnTransaction = [this](DdeInstance&, const DdeTransaction& transaction) {
        return Transaction(transaction);
    };
}

TClientLink::~TClientLink() {
    dde_.OnTransaction = nullptr;
}

void TClientLink::ClientGone() {
    Trace("dde: the client's window is gone");
    host_.SetClientAnswered(true);
    host_.EndSoon();
}

TClientLink::Opened TClientLink::OpenLink(bool forRetrieval) {
    if (!ClientWindowExists()) {
        ClientGone();
        return Opened::ClientGone;
    }
    for (int i = 0; i < kPumpsBeforeOpening; ++i)
        ProcessMessages();
    Convinn.DdeService = "CXsystem";
    Convinn.DdeTopic = "TalkerConversion";
    Clientinn.DdeItem = "TalkerCalls";
    if (forRetrieval)
        host_.SetClientAnswered(false);
    host_.ResetArrivedCount();

    DdeConversation& conversation = Convinn.Conversation;
    if (!conversation.Connect(dde_, Convinn.DdeService, Convinn.DdeTopic)) {
        Trace("dde: cannot connect to " + Convinn.DdeService + ", starting " +
              Convinn.ServiceApplication);
        host_.RunProgram(Convinn.ServiceApplication, SW_SHOWMINNOACTIVE);
        if (!conversation.Connect(dde_, Convinn.DdeService, Convinn.DdeTopic)) {
            Trace("dde: cannot connect to " + Convinn.DdeService);
            return Opened::NotConnected;
        }
    }
    if (!conversation.StartAdvise(Clientinn.DdeItem, kAdviseTimeOutMs)) {
        Trace("dde: advise link on " + Clientinn.DdeItem + " refused");
        Clientinn.DdeItem.clear();
    }
    ProcessMessages();
    return Opened::Connected;
}

void TClientLink::CloseLink() {
    Convinn.Conversation.Disconnect();
}

bool TClientLink::Poke(const std::string& text) {
    const bool sent = Convinn.Conversation.PokeAsync(Clientinn.DdeItem, text);
    Trace(std::string(sent ? "dde out: " : "dde out failed: ") + DdeLogText(text));
    return sent;
}

void TClientLink::SendToClient(const std::string& text) {
    SendOne(text);
}

void TClientLink::SendReport(const std::vector<std::string>& entries) {
    std::string report = "CHECK:\r\n";
    for (const std::string& line : entries)
        report += line + "\r\n";
    SendOne(report);
}

void TClientLink::SendOne(const std::string& text) {
    try {
        const Opened opened = OpenLink(false);
        if (opened != Opened::Connected) {
            host_.SetClientAnswered(true);
            return;
        }
        Poke(text);
        CloseLink();
    } catch (const std::exception& e) {
        CloseLink();
        TraceCaught("dde: sending failed", e);
    }
}

void TClientLink::AskClientToRetrieve(const std::string& list) {
    try {
        const Opened opened = OpenLink(true);
        if (opened == Opened::ClientGone)
            return;
        if (opened == Opened::NotConnected) {
            host_.RunProgram(host_.ProgramDirectory() + "CXsystem.exe " + list, SW_SHOWNORMAL);
            WaitMilliseconds(kWaitAfterClientStartMs);
            host_.SetClientAnswered(true);
            return;
        }
        if (!Poke("GET:" + list))
            host_.SetClientAnswered(true);
        CloseLink();
        host_.SetToolTip(kTipClientRetrieving);
        // A client that ends without answering would leave the agent waiting for ever: its
        // window going away ends the wait, and the agent, as at its next attempt to talk to it.
        WaitUntil([this] {
            if (host_.ClientAnswered())
                return true;
            if (ClientWindowExists())
                return false;
            ClientGone();
            return true;
        });
    } catch (const std::exception& e) {
        CloseLink();
        TraceCaught("dde: retrieval request failed", e);
        host_.SetClientAnswered(true);
    }
}

HDDEDATA TClientLink::Transaction(const DdeTransaction& transaction) {
    if (transaction.type != XTYP_ADVDATA)
        return nullptr;
    Trace("dde in: change notice on " + dde_.Text(transaction.string2));
    // The work is done from the queue, not inside DDEML's callback.
    host_.PostClientItemChange();
    return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

} // namespace pw
