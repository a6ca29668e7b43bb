// Hidden utility window; see UtilityWindow.h.
#include "UtilityWindow.h"

#include <stdexcept>

namespace pw {

namespace {
constexpr char kClassName[] = "PwUtilityWindow";

void RegisterClassOnce(WNDPROC proc) {
    WNDCLASSA wc{};
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (GetClassInfoA(instance, kClassName, &wc))
        return;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);
}
} // namespace

UtilityWindow::UtilityWindow(Handler handler) : handler_(std::move(handler)) {
    RegisterClassOnce(&UtilityWindow::WindowProc);
    window_.reset(CreateWindowExA(WS_EX_TOOLWINDOW, kClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), this));
    if (!window_)
        throw std::runtime_error("cannot create a utility window");
}

LRESULT CALLBACK UtilityWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<UtilityWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY)
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    LRESULT result = 0;
    if (self != nullptr && self->handler_ && self->handler_(msg, wParam, lParam, result))
        return result;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace pw
