// The agent's link with the running mail client in background mode: what the check cycle needs
// of it (IClientLink), and the DDE conversation that implements it, Convinn with its item
// Clientinn on the client's service "CXsystem", topic "TalkerConversion".
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "win/Dde.h"

namespace pw {

// What the client link needs of the agent: a few of its values and ways to act. The agent
// implements it; the link knows nothing else of it.
class IClientLinkHost {
public:
    virtual ~IClientLinkHost() = default;
    virtual const std::string& ProgramDirectory() const = 0;
    // The retrieval exchange is over: the client answered "DONE:", or it could not be asked.
    virtual bool ClientAnswered() const = 0;
    virtual void SetClientAnswered(bool answered) = 0;
    virtual void ResetArrivedCount() = 0;
    virtual void SetToolTip(const std::string& text) = 0;
    // Starts a program by the system's usual search, not waited for.
    virtual void RunProgram(const std::string& commandLine, UINT show) = 0;
    // The client's window is gone: the agent ends shortly, outside the caller.
    virtual void EndSoon() = 0;
    // A change notice came on the client's item; handled from the queue.
    virtual void PostClientItemChange() = 0;
};

class IClientLink {
public:
    virtual ~IClientLink() = default;
    // Pokes one text at the client.
    virtual void SendToClient(const std::string& text) = 0;
    // Pokes the "CHECK:" reply: the line "CHECK:", then each report entry, every line ended by
    // CR LF, as one text.
    virtual void SendReport(const std::vector<std::string>& entries) = 0;
    // Asks the client with "GET:" + list to retrieve, and waits for its "DONE:".
    virtual void AskClientToRetrieve(const std::string& list) = 0;
};

// The client conversation: which program serves it and under which names. It is opened for
// one exchange and closed after it.
struct TDdeClientConv {
    std::string ServiceApplication = "CXsystem";
    std::string DdeService = "CXsystem";
    std::string DdeTopic;
    DdeConversation Conversation;
};

// The client item: its name, emptied for the rest of an exchange whose advise link the client
// refused. Its change notices reach the agent as TPlaceHolder::ClientinnChange.
struct TDdeClientItem {
    std::string DdeItem;
};

class TClientLink : public IClientLink {
public:
    static constexpr const char* kClientWindowClass = "TCXCmainForm";

    // Takes the instance's transactions until it ends.
    TClientLink(IClientLinkHost& host, DdeInstance& dde);
    ~TClientLink() override;
    TClientLink(const TClientLink&) = delete;
    TClientLink& operator=(const TClientLink&) = delete;

    void SendToClient(const std::string& text) override;
    void SendReport(const std::vector<std::string>& entries) override;
    void AskClientToRetrieve(const std::string& list) override;

    // A DDE transaction for the client side of this instance (advise data, completions).
    HDDEDATA Transaction(const DdeTransaction& transaction);

    TDdeClientConv Convinn;
    TDdeClientItem Clientinn;

private:
    enum class Opened { ClientGone, NotConnected, Connected };
    Opened OpenLink(bool forRetrieval);
    void CloseLink();
    bool Poke(const std::string& text);
    // One exchange that pokes text; errors are traced and dropped.
    void SendOne(const std::string& text);
    void ClientGone();

    IClientLinkHost& host_;
    DdeInstance& dde_;
};

} // namespace pw
