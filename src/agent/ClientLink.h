// The agent's link with the running mail client in background mode: what the check cycle needs
// of it (IClientLink), and the DDE conversation that implements it, Convinn with its item
// Clientinn on the client's service "CXsystem", topic "TalkerConversion".
#pragma once

#include <string>

#include "win/Dde.h"

namespace pw {

class TPlaceHolder;

class IClientLink {
public:
    virtual ~IClientLink() = default;
    // Pokes one text at the client (a "CHECK:" text sends the report lines).
    virtual void SendToClient(const std::string& text) = 0;
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
    TClientLink(TPlaceHolder& agent, DdeInstance& dde);
    ~TClientLink() override;
    TClientLink(const TClientLink&) = delete;
    TClientLink& operator=(const TClientLink&) = delete;

    void SendToClient(const std::string& text) override;
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
    void ClientGone();

    TPlaceHolder& agent_;
    DdeInstance& dde_;
};

} // namespace pw
