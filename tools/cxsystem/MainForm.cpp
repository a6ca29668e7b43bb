// The stand-in client's main window; see MainForm.h.
#include "MainForm.h"

#include "StandInLog.h"
#include "core/Errors.h"

namespace pw {

TCXCmainForm::TCXCmainForm(HINSTANCE instance, StandInLog& log)
    : log_(log), status_("Stand-in mail client for tests and demos") {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw Exception("Cannot register the window class");
    window_.reset(CreateWindowExA(0, kClassName, kCaption, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 420, 140, nullptr, nullptr, instance, this));
    if (!window_)
        throw Exception("Cannot create the main window");
    postTarget_ = window_.get();
}

void TCXCmainForm::Show(int showCommand) {
    ShowWindow(Handle(), showCommand);
    UpdateWindow(Handle());
    log_.Write("window: shown (show command " + std::to_string(showCommand) + ")");
}

void TCXCmainForm::SetStatus(std::string text) {
    status_ = std::move(text);
    if (Handle() != nullptr)
        InvalidateRect(Handle(), nullptr, TRUE);
}

void TCXCmainForm::Close() {
    PostMessageA(postTarget_, WM_CLOSE, 0, 0);
}

void TCXCmainForm::CloseAfter(unsigned ms) {
    SetTimer(Handle(), kExitTimerId, ms, nullptr);
}

void TCXCmainForm::PostRetrievalDone(int count) {
    PostMessageA(postTarget_, kRetrievalDoneMessage, static_cast<WPARAM>(count), 0);
}

LRESULT CALLBACK TCXCmainForm::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* form =
            static_cast<TCXCmainForm*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        form->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    }
    auto* form = reinterpret_cast<TCXCmainForm*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (form == nullptr)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        form->hwnd_ = nullptr;
        form->window_.release();
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    return form->HandleMessage(msg, wParam, lParam);
}

LRESULT TCXCmainForm::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT:
        FormPaint();
        return 0;
    case WM_CLOSE:
        FormClose();
        return 0;
    case WM_DESTROY:
        FormDestroy();
        return 0;
    case WM_TIMER:
        if (wParam == kExitTimerId) {
            ExitTimerTimer();
            return 0;
        }
        break;
    case kRetrievalDoneMessage:
        if (OnRetrievalDone)
            OnRetrievalDone(*this, static_cast<int>(wParam));
        return 0;
    default:
        break;
    }
    return DefWindowProcA(hwnd_, msg, wParam, lParam);
}

void TCXCmainForm::FormPaint() {
    const PaintScope paint(hwnd_);
    const HDC dc = paint.get();
    RECT area;
    GetClientRect(hwnd_, &area);
    InflateRect(&area, -10, -10);
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, status_.c_str(), static_cast<int>(status_.size()), &area,
              DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

void TCXCmainForm::FormClose() {
    log_.Write("window: closed");
    DestroyWindow(hwnd_);
}

void TCXCmainForm::FormDestroy() {
    PostQuitMessage(0);
}

void TCXCmainForm::ExitTimerTimer() {
    KillTimer(hwnd_, kExitTimerId);
    log_.Write("window: exit time reached");
    Close();
}

} // namespace pw
