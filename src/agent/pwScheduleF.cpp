// The status window; see pwScheduleF.h.
#include "pwScheduleF.h"

namespace pw {

namespace {
WindowSpec ScheduleWindowSpec(HWND owner) {
    WindowSpec spec;
    spec.ClassName = "TpwSchedule";
    spec.Caption = "Mail Agent Schedule";
    spec.Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME;
    spec.ExStyle = WS_EX_DLGMODALFRAME;
    RECT r{0, 0, 453, 178};
    AdjustWindowRectEx(&r, spec.Style, FALSE, spec.ExStyle);
    spec.Width = r.right - r.left;
    spec.Height = r.bottom - r.top;
    spec.Left = (GetSystemMetrics(SM_CXSCREEN) - spec.Width) / 2;
    spec.Top = (GetSystemMetrics(SM_CYSCREEN) - spec.Height) / 2;
    spec.Owner = owner;
    spec.Background = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    return spec;
}
} // namespace

TpwSchedule::TpwSchedule(HWND owner)
    : window_(ScheduleWindowSpec(owner),
              [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                  return HandleMessage(msg, wParam, lParam, result);
              }) {}

bool TpwSchedule::Visible() const {
    return IsWindowVisible(window_.Handle()) != FALSE;
}

void TpwSchedule::Show() {
    if (OnShow)
        OnShow(*this);
    ShowWindow(window_.Handle(), SW_SHOW);
}

void TpwSchedule::Close() {
    ShowWindow(window_.Handle(), SW_HIDE);
}

void TpwSchedule::SetLabel3(const std::string& text) {
    label3_ = text;
}

void TpwSchedule::SetLabel8(const std::string& text) {
    label8_ = text;
}

bool TpwSchedule::HandleMessage(UINT msg, WPARAM, LPARAM, LRESULT& result) {
    if (msg == WM_CLOSE) { // closing only hides: the window lives as long as the program
        Close();
        result = 0;
        return true;
    }
    return false;
}

} // namespace pw
