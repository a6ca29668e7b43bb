// Sends the running agent the message the shell sends on a double click of its tray icon, and
// waits until the status window "Mail Agent Schedule" shows. Exit code 0 when it did.
// "trayclick --rect TITLE" instead waits for the visible window of that title and prints its
// place on the screen as WIDTHxHEIGHT+LEFT+TOP (for cropping a screenshot).
//
// The icon's callback window is one of the agent's hidden "PwUtilityWindow"s; of those only the
// tray's reacts to WM_USER + 1, so the message goes to each of them on the agent's thread.
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

constexpr UINT kTrayCallbackMessage = WM_USER + 1;

HWND WaitForWindow(const char* className, const char* title, DWORD timeoutMs, bool visible) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowA(className, title);
        if (window != nullptr && (!visible || IsWindowVisible(window)))
            return window;
        if (GetTickCount() - start > timeoutMs)
            return nullptr;
        Sleep(100);
    }
}

BOOL CALLBACK CollectUtilityWindow(HWND window, LPARAM found) {
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "PwUtilityWindow") == 0)
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

int PrintRect(const char* title) {
    const HWND window = WaitForWindow(nullptr, title, 15000, true);
    if (window == nullptr) {
        std::fprintf(stderr, "trayclick: no window \"%s\"\n", title);
        return 1;
    }
    RECT r{};
    GetWindowRect(window, &r);
    // Without a window manager the X focus follows the pointer: put it on the window so that
    // the picture shows it active.
    SetCursorPos((r.left + r.right) / 2, r.top + 8);
    SetForegroundWindow(window);
    std::printf("%ldx%ld+%ld+%ld\n", r.right - r.left, r.bottom - r.top, r.left, r.top);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && lstrcmpA(argv[1], "--rect") == 0)
        return PrintRect(argv[2]);
    const HWND application =
        WaitForWindow("TApplication", "Vantiro's Automation Agent", 30000, false);
    if (application == nullptr) {
        std::fprintf(stderr, "trayclick: the agent is not running\n");
        return 2;
    }
    std::vector<HWND> candidates;
    EnumThreadWindows(GetWindowThreadProcessId(application, nullptr), &CollectUtilityWindow,
                      reinterpret_cast<LPARAM>(&candidates));
    for (HWND window : candidates)
        PostMessageA(window, kTrayCallbackMessage, 0, WM_LBUTTONDBLCLK);
    if (WaitForWindow("TpwSchedule", "Mail Agent Schedule", 15000, true) == nullptr) {
        std::fprintf(stderr, "trayclick: the status window did not open\n");
        return 1;
    }
    return 0;
}
