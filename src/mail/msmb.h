// The abstract mail-protocol client: opening and closing a mailbox around the protocol's own
// login and logout.
#pragma once

#include "mail/agsocket.h"

namespace pw {

class TmsMailBase : public TagSocket {
public:
    using TagSocket::TagSocket;

    // Open and Login, unless the connection is open already.
    void OpenMailbox();
    // Logout and Close, unless no connection is open. The connection is closed even when the
    // logout fails (the error is raised after the close).
    void CloseMailbox();

    virtual void Login() = 0;
    virtual void Logout() = 0;

protected:
    // How the trace names this mailbox session (no secrets) and what it holds once open.
    virtual std::string SessionName() const { return Server; }
    virtual std::string SessionState() const { return "open"; }
};

} // namespace pw
