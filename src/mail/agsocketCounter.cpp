// The socket's time counter; see agsocket.h.
#include "agsocket.h"

namespace pw {

TTimeCounter::TTimeCounter() : Timer(nullptr, 1000, false) {
    Timer.OnTimer = [this](TObject&) { Tick(); };
}

void TTimeCounter::Start() {
    Remaining = Timer.Enabled() && Limit > 0 ? Limit + 1 : Limit;
    counting_ = true;
    Timer.SetEnabled(true);
}

void TTimeCounter::Stop() {
    counting_ = false;
}

void TTimeCounter::Release() {
    counting_ = false;
    Timer.SetEnabled(false);
}

void TTimeCounter::Tick() {
    // A tick between two waits of a session counts for neither.
    if (!counting_)
        return;
    --Remaining;
    if (Remaining <= 0)
        Expired = true;
}

} // namespace pw
