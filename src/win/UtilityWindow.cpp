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
    const HWND parent = layout.MessageOnly ? HWND_MESSAGE : layout.Owner;
    // The window procedure takes the handle into window_ at WM_NCCREATE and gives it up at
    // WM_NCDESTROY, so a creation refused after WM_NCCREATE leaves nothing to destroy.
    if (CreateWindowExA(layout.ExStyle, layout.ClassName.c_str(), layout.Caption.c_str(),
                        layout.Style, layout.Left, layout.Top, layout.Width, layout.Height, parent,
                        nullptr, GetModuleHandleA(nullptr), this) == nullptr)
        throw std::runtime_error("cannot create the window " + layout.ClassName);
}

LRESULT CALLBACK RoutedWindow::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Messages before WM_NCCREATE (WM_GETMINMAXINFO) find no object and go to the default.
    if (msg == WM_NCCREATE) {
        auto* created =
            static_cast<RoutedWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        created->window_.reset(hwnd);
    }
    auto* self = reinterpret_cast<RoutedWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    LRESULT result = 0;
    bool handled = false;
    if (self != nullptr && self->handler_)
        GuardedCall([&] { handled = self->handler_(msg, wParam, lParam, result); });
    if (msg == WM_NCDESTROY) {
        // Whoever destroyed it (the owner, a parent, a refused creation), the handle is gone.
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        if (self != nullptr && self->window_.get() == hwnd)
            self->window_.release();
    }
    return handled ? result : DefWindowProcA(hwnd, msg, wParam, lParam);
}

UtilityWindow::UtilityWindow(Kind kind, Handler handler)
    : RoutedWindow(
          [kind] {
              WindowSpec layout;
              layout.MessageOnly = kind == Kind::MessageOnly;
              return layout;
          }(),
          std::move(handler)) {}

} // namespace pw
