// The status window "Mail Agent Schedule": read-only view of the watched mailboxes, three
// settings, the countdown line (Label3) and the arrived-messages line (Label8). The check cycle
// writes Label3 and Label8 whether or not the window is visible.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "win/UtilityWindow.h"

namespace pw {

class TpwSchedule {
public:
    explicit TpwSchedule(HWND owner);

    bool Visible() const;
    void Show();
    void Close();
    HWND Handle() const { return window_.Handle(); }

    const std::string& Label3() const { return label3_; }
    void SetLabel3(const std::string& text);
    const std::string& Label8() const { return label8_; }
    void SetLabel8(const std::string& text);

    // Fills the window from the agent's state each time it is shown.
    std::function<void(TpwSchedule&)> OnShow;

private:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    std::string label3_ = "  minutes till next checking event...";
    std::string label8_ = "[ No new messages currently arrived... ]";
    RoutedWindow window_;
};

} // namespace pw
