// Routed windows; see UtilityWindow.h.
#include "UtilityWindow.h"

#include <stdexcept>

#include "win/ExceptionHook.h"

namespace pw {

namespace {
void RegisterClassOnce(const WindowSpec& layout, WNDPROC proc) {
    WNDCLASSA wc{};
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (GetClassInfoA(instance, layout.ClassName.c_str(), &wc))
        return;
    wc.lpfnWndProc = proc;
    wc.hInstance = instance;
    wc.lpszClassName = layout.ClassName.c_str();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = layout.Background;
    wc.hIcon = layout.Icon;
    RegisterClassA(&wc);
}
} // namespace

RoutedWindow::RoutedWindow(const WindowSpec& layout, Handler handler)
    : handler_(std::move(handler)) {
    RegisterClassOnce(layout, &RoutedWindow::WindowProc);
    window_.reset(CreateWindowExA(layout.ExStyle, layout.ClassName.c_str(), layout.Caption.c_str(),
                                  layout.Style, layout.Left, layout.Top, layout.Width,
                                  layout.Height, layout.Owner, nullptr, GetModuleHandleA(nullptr),
                                  this));
    if (!window_)
        throw std::runtime_error("cannot create the window " + layout.ClassName);
}

LRESULT CALLBACK RoutedWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<RoutedWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY)
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    LRESULT result = 0;
    bool handled = false;
    if (self != nullptr && self->handler_)
        GuardedCall([&] { handled = self->handler_(msg, wParam, lParam, result); });
    return handled ? result : DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace pw
