// Text over a styled background: plain coloured text, raised 3-D text (a light edge above and
// left of the letters, a dark edge below and right), and owner-drawn labels that paint their
// own part of the parent's background under the text, so they look transparent.
#pragma once

#include <windows.h>

#include <string>

#include "styling/Background.h"

namespace pw {

struct TextStyle {
    HFONT Font = nullptr;
    COLORREF Colour = RGB(0, 0, 0);
    UINT Format = DT_LEFT | DT_NOPREFIX | DT_EXPANDTABS;
    bool Raised = false;
    COLORREF Light = RGB(255, 255, 255);
    COLORREF Dark = RGB(64, 64, 64);
};

void DrawStyledText(HDC dc, const std::string& text, const RECT& rect, const TextStyle& style);

// The window text of a control, of any length.
std::string WindowText(HWND window);

// Paints an owner-drawn STATIC (SS_OWNERDRAW): background, then its window text, flicker-free.
void PaintLabel(const DRAWITEMSTRUCT& item, const TTiledBackground& background,
                const TextStyle& style);

} // namespace pw
