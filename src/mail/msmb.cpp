// Mail-protocol base; see msmb.h.
#include "msmb.h"

#include <exception>

#include "win/Trace.h"

namespace pw {

void TmsMailBase::OpenMailbox() {
    if (IsSocketOpen())
        return;
    try {
        Open();
        Login();
    } catch (const std::exception& error) {
        TraceCaught(SessionName() + ": failed", error);
        throw;
    }
    Trace(SessionName() + ": " + SessionState());
}

void TmsMailBase::CloseMailbox() {
    if (!IsSocketOpen())
        return;
    // The socket is closed whatever the logout meets: an unsendable or refused QUIT must not
    // leave it open, or every later OpenMailbox would find it open and do nothing.
    try {
        Logout();
    } catch (...) {
        TraceCaughtCurrent(SessionName() + ": logout");
        Close();
        throw;
    }
    Close();
}

} // namespace pw
