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
        Trace(SessionName() + ": failed: " + error.what());
        throw;
    }
    Trace(SessionName() + ": " + SessionState());
}

void TmsMailBase::CloseMailbox() {
    if (!IsSocketOpen())
        return;
    Logout();
    Close();
}

} // namespace pw
