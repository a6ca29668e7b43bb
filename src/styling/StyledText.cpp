// Styled text; see StyledText.h.
#include "StyledText.h"

#include <vector>

namespace pw {

namespace {
void DrawTextAt(HDC dc, const std::string& text, RECT rect, int dx, int dy, COLORREF colour,
                UINT format) {
    OffsetRect(&rect, dx, dy);
    SetTextColor(dc, colour);
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &rect, format);
}
} // namespace

void DrawStyledText(HDC dc, const std::string& text, const RECT& rect, const TextStyle& style) {
    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour = GetTextColor(dc);
    const SelectedObject font(dc, style.Font);
    if (style.Raised) {
        DrawTextAt(dc, text, rect, -1, -1, style.Light, style.Format);
        DrawTextAt(dc, text, rect, 1, 1, style.Dark, style.Format);
    }
    DrawTextAt(dc, text, rect, 0, 0, style.Colour, style.Format);
    SetTextColor(dc, oldColour);
    SetBkMode(dc, oldMode);
}

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    if (length <= 0)
        return std::string();
    std::vector<char> text(static_cast<size_t>(length) + 1);
    const int copied = GetWindowTextA(window, text.data(), length + 1);
    return std::string(text.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

void PaintLabel(const DRAWITEMSTRUCT& item, const TTiledBackground& background,
                const TextStyle& style) {
    RECT place{};
    GetWindowRect(item.hwndItem, &place);
    MapWindowPoints(nullptr, GetParent(item.hwndItem), reinterpret_cast<POINT*>(&place), 2);
    DoubleBuffer buffer(item.hDC, item.rcItem);
    background.Paint(buffer.Dc(), item.rcItem,
                     POINT{place.left + item.rcItem.left, place.top + item.rcItem.top});
    DrawStyledText(buffer.Dc(), WindowText(item.hwndItem), item.rcItem, style);
}

} // namespace pw
