// TPanel: a flat coloured child window with a raised bevel and a centred caption, used as a
// button. Its mouse events let the owner change the bevel while the button is held down.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "win/UtilityWindow.h"

namespace pw {

class TPanel {
public:
    using TPanelEvent = std::function<void(TPanel& Sender)>;

    TPanel(HWND parent, int id, const RECT& place, std::string caption);

    HWND Handle() const { return window_.Handle(); }
    const std::string& Caption() const { return caption_; }

    int BevelWidth() const { return bevelWidth_; }
    void SetBevelWidth(int value);
    int BorderWidth() const { return borderWidth_; }
    void SetBorderWidth(int value);

    COLORREF Color = RGB(0, 0, 0);
    COLORREF FontColor = RGB(255, 255, 255);
    HFONT Font = nullptr; // not owned

    TPanelEvent OnMouseDown;
    TPanelEvent OnMouseUp;
    TPanelEvent OnClick; // button released over the panel

private:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void ButtonDown();
    void ButtonUp(POINT at);
    void Paint();

    std::string caption_;
    int bevelWidth_ = 1;
    int borderWidth_ = 0;
    bool pressed_ = false;
    RoutedWindow window_;
};

} // namespace pw
