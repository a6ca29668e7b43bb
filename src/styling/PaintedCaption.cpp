// Painted caption; see PaintedCaption.h. The system's frame painting is clipped away from the
// title band so that its own title never flashes up before ours.
#include "PaintedCaption.h"

#include "styling/Background.h"
#include "styling/Gdi.h"
#include "styling/StyledText.h"

namespace pw {

RECT TPaintedCaption::TitleBand(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    RECT client{};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    OffsetRect(&client, -frame.left, -frame.top);
    RECT band{};
    band.left = client.left;
    band.right = client.right - GetSystemMetrics(SM_CXSIZE) - 2; // the close button
    band.bottom = client.top - 1;                                // the line under the caption
    band.top = client.top - GetSystemMetrics(SM_CYCAPTION);
    if (band.right < band.left)
        band.right = band.left;
    return band;
}

bool TPaintedCaption::HandleMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam,
                                    LRESULT& result) {
    switch (msg) {
    case WM_NCPAINT:
        PaintFrame(window, reinterpret_cast<HRGN>(wParam));
        result = 0;
        return true;
    case WM_NCACTIVATE:
        active_ = wParam != FALSE;
        // -1: switch the state without the system's repaint, which would draw its own title.
        result = DefWindowProcA(window, msg, wParam, static_cast<LPARAM>(-1));
        PaintFrame(window, reinterpret_cast<HRGN>(1));
        return true;
    case WM_SETTEXT:
        result = DefWindowProcA(window, msg, wParam, lParam);
        PaintTitle(window);
        return true;
    default:
        return false;
    }
}

void TPaintedCaption::PaintFrame(HWND window, HRGN update) {
    RECT frame{};
    GetWindowRect(window, &frame);
    RECT band = TitleBand(window);
    OffsetRect(&band, frame.left, frame.top); // the region is in screen coordinates
    {
        const UniqueRegion clip(CreateRectRgnIndirect(&frame));
        if (update != nullptr && update != reinterpret_cast<HRGN>(1))
            CombineRgn(clip.get(), update, nullptr, RGN_COPY);
        const UniqueRegion title(CreateRectRgnIndirect(&band));
        CombineRgn(clip.get(), clip.get(), title.get(), RGN_DIFF);
        DefWindowProcA(window, WM_NCPAINT, reinterpret_cast<WPARAM>(clip.get()), 0);
    }
    PaintTitle(window);
}

void TPaintedCaption::PaintTitle(HWND window) {
    if ((GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) != WS_CAPTION)
        return;
    const RECT band = TitleBand(window);
    if (band.right <= band.left || band.bottom <= band.top)
        return;
    RECT client{};
    GetClientRect(window, &client);
    const int fullRight = band.left + (client.right - client.left);

    BOOL gradient = FALSE;
    SystemParametersInfoA(SPI_GETGRADIENTCAPTIONS, 0, &gradient, 0);
    const COLORREF left = GetSysColor(active_ ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION);
    const COLORREF right = gradient ? GetSysColor(active_ ? COLOR_GRADIENTACTIVECAPTION
                                                          : COLOR_GRADIENTINACTIVECAPTION)
                                    : left;

    WindowDC dc(window, WindowDC::Whole);
    DoubleBuffer buffer(dc.get(), band);
    FillHorizontalGradient(buffer.Dc(), band, band.left, fullRight, left, right);
    TextStyle style;
    style.Font = font_;
    style.Colour = GetSysColor(active_ ? COLOR_CAPTIONTEXT : COLOR_INACTIVECAPTIONTEXT);
    style.Format = DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS;
    RECT text = band;
    text.left += 3;
    DrawStyledText(buffer.Dc(), WindowText(window), text, style);
}

} // namespace pw
