// The application object; see Application.h.
#include "Application.h"

namespace pw {

namespace {
WindowSpec ApplicationWindowSpec(const std::string& title) {
    WindowSpec layout;
    layout.ClassName = "TApplication";
    layout.Caption = title;
    // A visible, zero-sized, unowned window: it is what owns the task-bar button; the forms
    // are owned by it and so get none of their own.
    layout.Style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX;
    layout.ExStyle = 0;
    layout.Left = GetSystemMetrics(SM_CXSCREEN) / 2;
    layout.Top = GetSystemMetrics(SM_CYSCREEN) / 2;
    return layout;
}
} // namespace

TApplication::TApplication(std::string title)
    : title_(std::move(title)),
      window_(ApplicationWindowSpec(title_),
              [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                  return HandleMessage(msg, wParam, lParam, result);
              }) {
    ShowWindow(window_.Handle(), SW_SHOWNOACTIVATE);
}

bool TApplication::HandleMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT& result) {
    switch (msg) {
    case WM_CLOSE:
        result = 0;
        if (OnClose)
            OnClose();
        return true;
    case WM_QUERYENDSESSION:
        result = TRUE; // nothing to save, nothing to ask
        return true;
    case WM_ENDSESSION:
        result = 0;
        if (wParam && OnClose)
            OnClose();
        return true;
    default:
        return false;
    }
}

void TApplication::SetIcon(HICON icon) {
    icon_ = icon;
    SendMessageA(window_.Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    SendMessageA(window_.Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void TApplication::BringToFront() {
    if (IsIconic(window_.Handle()))
        ShowWindow(window_.Handle(), SW_RESTORE);
    else
        ShowWindow(window_.Handle(), SW_SHOWNOACTIVATE);
    SetForegroundWindow(window_.Handle());
}

} // namespace pw
