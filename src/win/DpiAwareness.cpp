// The display's real scale; see DpiAwareness.h.
#include "DpiAwareness.h"

#include "win/Binding.h"
#include "win/Handles.h"

namespace pw {

namespace {

using SetThreadDpiAwarenessContextFunction = DPI_AWARENESS_CONTEXT(WINAPI*)(DPI_AWARENESS_CONTEXT);
using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using GetSystemMetricsForDpiFunction = int(WINAPI*)(int, UINT);

constexpr int kEffectiveDpi = 0;       // MDT_EFFECTIVE_DPI
constexpr UINT kWmDpiChanged = 0x02E0; // WM_DPICHANGED, declared for Windows 7 and later only
// Sizes outside these bounds are no answer a display gives: the default then.
constexpr int kSmallestIconSize = 8;
constexpr int kLargestIconSize = 256;
constexpr int kDefaultIconSize = 16;

int Plausible(int size) {
    return size >= kSmallestIconSize && size <= kLargestIconSize ? size : kDefaultIconSize;
}

} // namespace

const DpiFunctions& DpiFunctions::System() {
    static const DpiFunctions functions = [] {
        DpiFunctions bound;
        bound.GetSystemMetrics = [](int index) { return ::GetSystemMetrics(index); };
        const HMODULE user32 = GetModuleHandleA("user32.dll");
        const auto setContext = LookUpFunction<SetThreadDpiAwarenessContextFunction>(
            user32, "SetThreadDpiAwarenessContext");
        if (setContext == nullptr)
            return bound; // before Windows 10 1607: no thread can ask
        bound.SetThreadDpiAwarenessContext = setContext;
        if (const auto metrics =
                LookUpFunction<GetSystemMetricsForDpiFunction>(user32, "GetSystemMetricsForDpi"))
            bound.GetSystemMetricsForDpi = metrics;
        // Kept for the life of the process, as user32 is.
        static const UniqueModule shcore = LoadSystemLibrary("shcore.dll");
        if (const auto forMonitor =
                LookUpFunction<GetDpiForMonitorFunction>(shcore.get(), "GetDpiForMonitor"))
            bound.EffectiveDpiForMonitor = [forMonitor](HMONITOR monitor) {
                UINT x = 0;
                UINT y = 0;
                return SUCCEEDED(forMonitor(monitor, kEffectiveDpi, &x, &y)) ? y : 0u;
            };
        return bound;
    }();
    return functions;
}

PerMonitorDpiScope::PerMonitorDpiScope(const DpiFunctions& functions) : functions_(functions) {
    if (!functions_.SetThreadDpiAwarenessContext)
        return;
    // The second version (Windows 10 1703) also scales the non-client area; 1607 has the first.
    previous_ = functions_.SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    if (previous_ == nullptr)
        previous_ =
            functions_.SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE);
}

PerMonitorDpiScope::~PerMonitorDpiScope() {
    if (previous_ != nullptr)
        functions_.SetThreadDpiAwarenessContext(previous_);
}

int NotificationIconSize(const DpiFunctions& functions) {
    if (functions.EffectiveDpiForMonitor && functions.GetSystemMetricsForDpi) {
        const PerMonitorDpiScope aware(functions);
        if (aware.Active()) {
            // The task bar may sit on another monitor than the primary one.
            const HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
            const HMONITOR monitor = taskbar != nullptr
                                         ? MonitorFromWindow(taskbar, MONITOR_DEFAULTTOPRIMARY)
                                         : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
            const UINT dpi = functions.EffectiveDpiForMonitor(monitor);
            if (dpi != 0)
                return Plausible(functions.GetSystemMetricsForDpi(SM_CXSMICON, dpi));
        }
    }
    return Plausible(functions.GetSystemMetrics ? functions.GetSystemMetrics(SM_CXSMICON)
                                                : kDefaultIconSize);
}

DisplayChangeWatcher::DisplayChangeWatcher(std::function<void()> onChange,
                                           const DpiFunctions& functions)
    : onChange_(std::move(onChange)) {
    // A window has the awareness of its thread's context when it is created.
    const PerMonitorDpiScope aware(functions);
    window_ = std::make_unique<UtilityWindow>(
        UtilityWindow::Kind::TopLevel, [this](UINT msg, WPARAM, LPARAM, LRESULT& result) {
            if (msg != kWmDpiChanged && msg != WM_DISPLAYCHANGE)
                return false;
            if (onChange_)
                onChange_();
            result = 0;
            return true;
        });
}

} // namespace pw
