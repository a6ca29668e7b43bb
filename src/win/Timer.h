// A window-message timer: interval, enabled state and a tick event, like a form's timer.
#pragma once

#include <windows.h>

#include "core/Component.h"
#include "win/UtilityWindow.h"

namespace pw {

class TTimer : public TComponent {
public:
    explicit TTimer(TComponent* owner = nullptr, UINT interval = 1000, bool enabled = true);
    ~TTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    UINT Interval() const { return interval_; }
    void SetInterval(UINT value);

    TNotifyEvent OnTimer;

private:
    void Update();

    UINT interval_;
    bool enabled_;
    bool armed_ = false; // the window timer is set
    UtilityWindow window_;
};

} // namespace pw
