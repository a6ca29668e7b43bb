// A window caption whose title is painted in a font of our choosing. The system still draws the
// frame and the caption's buttons and keeps the real window text; only the title band is ours.
#pragma once

#include <windows.h>

namespace pw {

class TPaintedCaption {
public:
    explicit TPaintedCaption(HFONT font) : font_(font) {}

    // Call from the window's handler before its own cases; true when the message was handled.
    bool HandleMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // The title band in window coordinates: the caption without its buttons.
    static RECT TitleBand(HWND window);

private:
    void PaintFrame(HWND window, HRGN update);
    void PaintTitle(HWND window);

    HFONT font_;
    bool active_ = false;
};

} // namespace pw
