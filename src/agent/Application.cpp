// The application object; see Application.h.
#include "Application.h"

namespace pw {

namespace {
WindowSpec ApplicationWindowSpec(const std::string& title) {
    WindowSpec spec;
    spec.ClassName = "TApplication";
    spec.Caption = title;
    // A visible, zero-sized, unowned window: it is what owns the task-bar button; the forms
    // are owned by it and so get none of their own.
    spec.Style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX;
    spec.ExStyle = 0;
    spec.Left = GetSystemMetrics(SM_CXSCREEN) / 2;
    spec.Top = GetSystemMetrics(SM_CYSCREEN) / 2;
    return spec;
}
} // namespace

TApplication::TApplication(std::string title)
    : title_(std::move(title)),
      window_(ApplicationWindowSpec(title_), [](UINT, WPARAM, LPARAM, LRESULT&) { return false; }) {
    ShowWindow(window_.Handle(), SW_SHOWNOACTIVATE);
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
