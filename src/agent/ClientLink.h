// What the check cycle needs of the link with the mail client in background mode: sending a
// text and asking for a retrieval. The DDE conversation implements it.
#pragma once

#include <string>

namespace pw {

class IClientLink {
public:
    virtual ~IClientLink() = default;
    // Pokes one text at the client (a "CHECK:" text sends the report lines).
    virtual void SendToClient(const std::string& text) = 0;
    // Asks the client with "GET:" + list to retrieve, and waits for its "DONE:".
    virtual void AskClientToRetrieve(const std::string& list) = 0;
};

} // namespace pw
