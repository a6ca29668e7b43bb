// Windows whose procedure routes every message to a C++ handler. UtilityWindow is the hidden
// one that components use for timer ticks, socket and dial notices and tray callbacks; it is
// top-level (not message-only) so that broadcasts such as "TaskbarCreated" reach it. Forms
// use the same routing with their own class name, style, caption and place.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "win/Handles.h"

namespace pw {

struct WindowSpec {
    std::string ClassName = "PwUtilityWindow";
    std::string Caption;
    DWORD Style = WS_POPUP;
    DWORD ExStyle = WS_EX_TOOLWINDOW;
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    HWND Owner = nullptr;
    HBRUSH Background = nullptr;
    HICON Icon = nullptr;
};

class RoutedWindow {
public:
    // Handles one message; returns true when it did, with the result in result.
    using Handler = std::function<bool(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)>;

    RoutedWindow(const WindowSpec& layout, Handler handler);
    RoutedWindow(const RoutedWindow&) = delete;
    RoutedWindow& operator=(const RoutedWindow&) = delete;
    ~RoutedWindow() = default;

    HWND Handle() const { return window_.get(); }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    Handler handler_;
    UniqueWindow window_;
};

class UtilityWindow : public RoutedWindow {
public:
    explicit UtilityWindow(Handler handler) : RoutedWindow(WindowSpec{}, std::move(handler)) {}
};

} // namespace pw
