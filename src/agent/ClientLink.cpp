// The agent's DDE conversation with the mail client; see ClientLink.h.
#include "ClientLink.h"

#include "agent/PWiseF.h"
#include "core/AgentRules.h"
#include "core/Text.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

namespace {
constexpr DWORD kAdviseTimeOutMs = 1000;
constexpr int kPumpsBeforeOpening = 11;
constexpr DWORD kWaitAfterClientStartMs = 1500;

bool ClientWindowExists() {
    return FindWindowA(TClientLink::kClientWindowClass, nullptr) != nullptr;
}
} // namespace

TClientLink::TClientLink(TPlaceHolder& agent, DdeInstance& dde) : agent_(agent), dde_(dde) {
    dde_.OnTransaction = [this](DdeInstance&, const DdeTransaction& transaction) {
        return Transaction(transaction);
    };
}

TClientLink::~TClientLink() {
    dde_.OnTransaction = nullptr;
}

void TClientLink::ClientGone() {
    Trace("dde: the client's window is gone");
    Shared.ClientDone = true;
    agent_.Halta.SetEnabled(true);
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
        Shared.ClientDone = false;
    agent_.ArrivedCount = 0;

    DdeConversation& conversation = Convinn.Conversation;
    if (!conversation.Connect(dde_, Convinn.DdeService, Convinn.DdeTopic)) {
        Trace("dde: cannot connect to " + Convinn.DdeService + ", starting " +
              Convinn.ServiceApplication);
        Fire(agent_.Environment.RunProgram, Convinn.ServiceApplication, UINT{SW_SHOWMINNOACTIVE});
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
    try {
        const Opened opened = OpenLink(false);
        if (opened != Opened::Connected) {
            Shared.ClientDone = true;
            return;
        }
        if (StartsWith(text, "CHECK:")) {
            Shared.ReportLines.insert(Shared.ReportLines.begin(), "CHECK:");
            std::string report;
            for (const std::string& line : Shared.ReportLines)
                report += line + "\r\n";
            Poke(report);
        } else {
            Poke(text);
        }
        CloseLink();
    } catch (const std::exception& e) {
        CloseLink();
        Trace(std::string("dde: sending failed: ") + e.what());
    }
}

void TClientLink::AskClientToRetrieve(const std::string& list) {
    try {
        const Opened opened = OpenLink(true);
        if (opened == Opened::ClientGone)
            return;
        if (opened == Opened::NotConnected) {
            Fire(agent_.Environment.RunProgram, agent_.ProgramDir + "CXsystem.exe " + list,
                 UINT{SW_SHOWNORMAL});
            WaitMilliseconds(kWaitAfterClientStartMs);
            Shared.ClientDone = true;
            return;
        }
        if (!Poke("GET:" + list))
            Shared.ClientDone = true;
        CloseLink();
        agent_.SetToolTip(kTipClientRetrieving);
        // A client that ends without answering would leave the agent waiting for ever: its
        // window going away ends the wait, and the agent, as at its next attempt to talk to it.
        WaitUntil([this] {
            if (Shared.ClientDone)
                return true;
            if (ClientWindowExists())
                return false;
            ClientGone();
            return true;
        });
    } catch (const std::exception& e) {
        CloseLink();
        Trace(std::string("dde: retrieval request failed: ") + e.what());
        Shared.ClientDone = true;
    }
}

HDDEDATA TClientLink::Transaction(const DdeTransaction& transaction) {
    if (transaction.type != XTYP_ADVDATA)
        return nullptr;
    Trace("dde in: change notice on " + dde_.Text(transaction.string2));
    // The work is done from the queue, not inside DDEML's callback.
    PostMessageA(agent_.FormHandle(), TPlaceHolder::kClientinnChangeMessage, 0, 0);
    return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

} // namespace pw
