// Window-message timer; see Timer.h.
#include "Timer.h"

namespace pw {

namespace {
constexpr UINT_PTR kTimerId = 1;
}

TTimer::TTimer(TComponent* owner, UINT interval, bool enabled)
    : TComponent(owner), interval_(interval), enabled_(enabled),
      window_(UtilityWindow::Kind::MessageOnly, [this](UINT msg, WPARAM, LPARAM, LRESULT&) {
          if (msg != WM_TIMER)
              return false;
          Fire(OnTimer, *this);
          return true;
      }) {
    Update();
}

TTimer::~TTimer() {
    if (armed_)
        KillTimer(window_.Handle(), kTimerId);
}

void TTimer::SetEnabled(bool value) {
    if (value == enabled_)
        return;
    enabled_ = value;
    Update();
}

void TTimer::SetInterval(UINT value) {
    if (value == interval_)
        return;
    interval_ = value;
    Update();
}

// Re-arming restarts the period, as a form's timer does when it is switched on again. A timer
// not armed is not killed: each call costs a round trip to Wine's server.
void TTimer::Update() {
    if (armed_)
        KillTimer(window_.Handle(), kTimerId);
    armed_ =
        enabled_ && interval_ > 0 && SetTimer(window_.Handle(), kTimerId, interval_, nullptr) != 0;
}

} // namespace pw
