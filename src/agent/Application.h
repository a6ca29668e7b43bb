// The application object: its title and the hidden application window that stands for the
// program on the task bar (the window that task-bar hiding looks up by title), and how the
// program ends.
#pragma once

#include <windows.h>

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

private:
    std::string title_;
    HICON icon_ = nullptr;
    RoutedWindow window_;
};

} // namespace pw
