// The application object: its title and the hidden application window that stands for the
// program on the task bar (the window that task-bar hiding looks up by title), and how the
// program ends.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "win/UtilityWindow.h"

namespace pw {

class TApplication {
public:
    explicit TApplication(std::string title);

    const std::string& Title() const { return title_; }
    HWND Handle() const { return window_.Handle(); }

    // The application icon (not owned): shown on the application window.
    HICON Icon() const { return icon_; }
    void SetIcon(HICON icon);

    // Restores the application window and brings it to the front.
    void BringToFront();

    // The window is being closed (its close box, Alt+F4, a WM_CLOSE from outside) or the
    // session ends (log-off, shut-down). Closing it must end the program: left to the default,
    // it would destroy the program's windows and leave the process running without them.
    std::function<void()> OnClose;

private:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    std::string title_;
    HICON icon_ = nullptr;
    RoutedWindow window_;
};

} // namespace pw
