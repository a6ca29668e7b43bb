// Windows whose procedure routes every message to a C++ handler. UtilityWindow is the hidden
// one that components use: message-only for timer ticks and socket and dial notices, top-level
// where a broadcast must reach it ("TaskbarCreated", WM_DDE_INITIATE). Forms use the same
// routing with their own class name, style, caption and place.
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
    // Parent HWND_MESSAGE (Owner is then ignored): the window gets only what is sent or posted
    // to its handle; broadcasts pass it by, and on Windows FindWindow does not find it.
    bool MessageOnly = false;
};

class RoutedWindow {
public:
    // Handles one message; returns true when it did, with the result in result.
    using Handler = std::function<bool(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)>;

    // The handler sees every message from WM_NCCREATE on, and Handle() is already valid then.
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
    enum class Kind {
        MessageOnly, // notices posted or sent to its handle: timers, sockets, dial-up
        TopLevel,    // hidden top-level: also reached by broadcasts
    };

    UtilityWindow(Kind kind, Handler handler);
    // The top-level kind.
    explicit UtilityWindow(Handler handler) : UtilityWindow(Kind::TopLevel, std::move(handler)) {}
};

} // namespace pw
