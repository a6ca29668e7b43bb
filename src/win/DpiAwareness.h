// The display's real scale for a program that is not DPI-aware. Windows tells such a program
// 96 DPI and stretches what it shows, the tray pictures too; a thread asks for the truth under
// a per-monitor-aware context. The functions for that are Windows 10 1607's (user32) and
// Windows 8.1's (shcore), bound at run time; without them the program takes what it is told.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "win/UtilityWindow.h"

namespace pw {

// The DPI functions a query uses; an empty one is missing on this system. Tests give their own.
struct DpiFunctions {
    std::function<DPI_AWARENESS_CONTEXT(DPI_AWARENESS_CONTEXT)> SetThreadDpiAwarenessContext;
    // shcore's GetDpiForMonitor with MDT_EFFECTIVE_DPI: the vertical DPI, 0 when it fails.
    std::function<UINT(HMONITOR)> EffectiveDpiForMonitor;
    std::function<int(int index, UINT dpi)> GetSystemMetricsForDpi;
    // The metrics as this thread is told them: what a system without the functions above gives.
    std::function<int(int index)> GetSystemMetrics;

    // This system's, bound once.
    static const DpiFunctions& System();
};

// While it lives, the calling thread is per-monitor DPI aware (the second version where the
// system has it), when the system can; then the thread's context is what it was.
class PerMonitorDpiScope {
public:
    explicit PerMonitorDpiScope(const DpiFunctions& functions = DpiFunctions::System());
    PerMonitorDpiScope(const PerMonitorDpiScope&) = delete;
    PerMonitorDpiScope& operator=(const PerMonitorDpiScope&) = delete;
    ~PerMonitorDpiScope();

    bool Active() const { return previous_ != nullptr; }

private:
    const DpiFunctions& functions_;
    DPI_AWARENESS_CONTEXT previous_ = nullptr;
};

// The pixel size of the notification area's pictures: the small-icon size at the DPI of the
// monitor that holds the task bar (the primary one when there is no task bar), so 16 at 96 DPI,
// 20 at 120, 24 at 144 and 32 at 192. Without the functions, the size this thread is told.
int NotificationIconSize(const DpiFunctions& functions = DpiFunctions::System());

// A hidden top-level window, per-monitor aware where the system can (only such a window is told
// of a change of scale), that calls OnChange when the display's scale (WM_DPICHANGED) or
// resolution (WM_DISPLAYCHANGE) changes. It shows and lays out nothing.
class DisplayChangeWatcher {
public:
    explicit DisplayChangeWatcher(std::function<void()> onChange,
                                  const DpiFunctions& functions = DpiFunctions::System());

    HWND Handle() const { return window_->Handle(); }

private:
    std::function<void()> onChange_;
    std::unique_ptr<UtilityWindow> window_;
};

} // namespace pw
