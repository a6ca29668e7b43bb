// TControlModule: the fixed window "Postwises Control Module!" with its two raised lines over a
// gradient, a "Close!" button and a hidden one-line field that carries the module's mark.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "styling/Background.h"
#include "styling/Gdi.h"
#include "win/UtilityWindow.h"

namespace pw {

class TControlModule {
public:
    enum ControlId : int { idLabel1 = 101, idLabel2, idButton1, idEdit1 };
    static constexpr int kClientWidth = 380;
    static constexpr int kClientHeight = 150;
    static constexpr char kMark[] = "PWCTRL-1.0"; // the hidden field's fixed content

    TControlModule();
    TControlModule(const TControlModule&) = delete;
    TControlModule& operator=(const TControlModule&) = delete;
    ~TControlModule();

    HWND Handle() const { return window_->Handle(); }
    HWND Control(ControlId id) const { return GetDlgItem(Handle(), id); }

    // The "Close!" button and the caption's close box: hide the window and fire OnClose.
    void Button1Click();

    std::function<void(TControlModule& Sender)> OnClose;

private:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void CreateControls();
    void Paint();

    UniqueGdiObject titleFont_;
    UniqueGdiObject lineFont_;
    UniqueGdiObject buttonFont_;
    TTiledBackground background_;
    std::unique_ptr<RoutedWindow> window_;
};

} // namespace pw
