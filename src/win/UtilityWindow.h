// A hidden top-level window whose procedure routes every message to a C++ object. Components
// use it to receive timer ticks, socket and dial notices and tray callbacks. It is top-level
// (not message-only) so that broadcasts such as "TaskbarCreated" reach it.
#pragma once

#include <windows.h>

#include <functional>

#include "win/Handles.h"

namespace pw {

class UtilityWindow {
public:
    // Handles one message; returns true when it did, with the result in result.
    using Handler = std::function<bool(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)>;

    explicit UtilityWindow(Handler handler);
    UtilityWindow(const UtilityWindow&) = delete;
    UtilityWindow& operator=(const UtilityWindow&) = delete;
    ~UtilityWindow() = default;

    HWND Handle() const { return window_.get(); }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    Handler handler_;
    UniqueWindow window_;
};

} // namespace pw
