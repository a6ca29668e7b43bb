// The smallest program of the agent's kind, the yardstick for its resident memory and idle
// load: a hidden window, a tray icon, one 10 s window timer and a DDEML server, nothing else.
//   mintray        runs until its window is closed (WM_CLOSE) or the process is ended
#include <windows.h>

#include <ddeml.h>
#include <shellapi.h>

#include "win/Handles.h"

namespace {

constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT_PTR kTimerId = 1;
constexpr UINT kTimerPeriodMs = 10000;
constexpr char kClassName[] = "TMinimalTray";

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Accepts conversations on its service and refuses everything else: enough to be a server.
HDDEDATA CALLBACK DdeCallback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return type == XTYP_CONNECT ? reinterpret_cast<HDDEDATA>(TRUE) : nullptr;
}

class DdemlServer {
public:
    explicit DdemlServer(const char* service) {
        if (DdeInitializeA(&instance_, DdeCallback, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS,
                           0) != DMLERR_NO_ERROR)
            return;
        service_ = DdeCreateStringHandleA(instance_, service, CP_WINANSI);
        DdeNameService(instance_, service_, nullptr, DNS_REGISTER);
    }
    DdemlServer(const DdemlServer&) = delete;
    DdemlServer& operator=(const DdemlServer&) = delete;
    ~DdemlServer() {
        if (instance_ == 0)
            return;
        DdeNameService(instance_, service_, nullptr, DNS_UNREGISTER);
        DdeFreeStringHandle(instance_, service_);
        DdeUninitialize(instance_);
    }

private:
    DWORD instance_ = 0;
    HSZ service_ = nullptr;
};

class TrayIcon {
public:
    explicit TrayIcon(HWND window) {
        data_.cbSize = NOTIFYICONDATAA_V1_SIZE;
        data_.hWnd = window;
        data_.uID = 1;
        data_.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
        data_.uCallbackMessage = kTrayMessage;
        data_.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
        lstrcpynA(data_.szTip, "mintray", sizeof data_.szTip);
        Shell_NotifyIconA(NIM_ADD, &data_);
    }
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;
    ~TrayIcon() { Shell_NotifyIconA(NIM_DELETE, &data_); }

private:
    NOTIFYICONDATAA data_{};
};

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass))
        return 1;
    const pw::UniqueWindow window(CreateWindowExA(0, kClassName, "mintray", WS_OVERLAPPED, 0, 0, 0,
                                                  0, nullptr, nullptr, instance, nullptr));
    if (!window)
        return 1;
    const TrayIcon icon(window.get());
    const DdemlServer server("MinTray");
    SetTimer(window.get(), kTimerId, kTimerPeriodMs, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
