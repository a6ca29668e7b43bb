// Backgrounds; see Background.h.
#include "Background.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace pw {

UniqueGdiObject MakeEllipticGradient(int width, int height, COLORREF centre, COLORREF edge,
                                     int steps) {
    if (width <= 0 || height <= 0 || steps < 2)
        return UniqueGdiObject();
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    UniqueGdiObject bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || bits == nullptr)
        return UniqueGdiObject();
    auto* pixels = static_cast<uint32_t*>(bits);
    const double a = width / 2.0;
    const double b = height / 2.0;
    for (int y = 0; y < height; ++y) {
        const double dy = (y + 0.5 - b) / b;
        for (int x = 0; x < width; ++x) {
            const double dx = (x + 0.5 - a) / a;
            const double distance = std::sqrt(dx * dx + dy * dy);
            const int band = std::min(steps - 1, static_cast<int>(distance * steps));
            const COLORREF c = BlendColour(centre, edge, band, steps - 1);
            // DIB pixels are blue, green, red from the low byte up.
            pixels[static_cast<size_t>(y) * width + x] =
                (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c);
        }
    }
    GdiFlush();
    return bitmap;
}

void TileBitmap(HDC dc, const RECT& area, HBITMAP tile) {
    BITMAP info{};
    if (tile == nullptr || GetObjectA(tile, sizeof info, &info) == 0 || info.bmWidth <= 0 ||
        info.bmHeight <= 0)
        return;
    UniqueMemoryDC source(CreateCompatibleDC(dc));
    SelectedObject selected(source.get(), tile);
    for (int y = area.top; y < area.bottom; y += info.bmHeight)
        for (int x = area.left; x < area.right; x += info.bmWidth)
            BitBlt(dc, x, y, std::min<int>(info.bmWidth, area.right - x),
                   std::min<int>(info.bmHeight, area.bottom - y), source.get(), 0, 0, SRCCOPY);
}

void FillHorizontalGradient(HDC dc, const RECT& paint, int fullLeft, int fullRight, COLORREF left,
                            COLORREF right) {
    const int span = std::max(1, fullRight - fullLeft - 1);
    for (int x = paint.left; x < paint.right; ++x) {
        const int step = std::clamp(x - fullLeft, 0, span);
        FillSolid(dc, RECT{x, paint.top, x + 1, paint.bottom},
                  BlendColour(left, right, step, span));
    }
}

TTiledBackground::TTiledBackground(HBITMAP tile, int width, int height)
    : width_(width), height_(height) {
    {
        const ScreenDC screen;
        bitmap_.reset(CreateCompatibleBitmap(screen.get(), width, height));
        UniqueMemoryDC dc(CreateCompatibleDC(screen.get()));
        SelectedObject selected(dc.get(), bitmap_.get());
        TileBitmap(dc.get(), RECT{0, 0, width, height}, tile);
    }
    brush_.reset(CreatePatternBrush(AsBitmap(bitmap_)));
}

void TTiledBackground::Paint(HDC dc, const RECT& dest, POINT source) const {
    UniqueMemoryDC memory(CreateCompatibleDC(dc));
    SelectedObject selected(memory.get(), bitmap_.get());
    BitBlt(dc, dest.left, dest.top, dest.right - dest.left, dest.bottom - dest.top, memory.get(),
           source.x, source.y, SRCCOPY);
}

} // namespace pw
