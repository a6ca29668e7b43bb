// Window backgrounds: an elliptic colour gradient drawn into a bitmap tile, tiled over an area,
// and a tiled background composed once per window that controls copy their part from.
#pragma once

#include <windows.h>

#include "styling/Gdi.h"

namespace pw {

// A width x height picture: the centre colour in the middle, the edge colour on the inscribed
// ellipse and beyond it, in steps bands of equal width between the two.
UniqueGdiObject MakeEllipticGradient(int width, int height, COLORREF centre, COLORREF edge,
                                     int steps);

// Repeats the tile over the area, starting at its top left corner.
void TileBitmap(HDC dc, const RECT& area, HBITMAP tile);

// Fills the part paint of a band from fullLeft to fullRight with a left-to-right gradient, so
// that a band painted piecewise shows one continuous gradient.
void FillHorizontalGradient(HDC dc, const RECT& paint, int fullLeft, int fullRight, COLORREF left,
                            COLORREF right);

class TTiledBackground {
public:
    TTiledBackground(HBITMAP tile, int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }

    // Copies the background from source (in background coordinates) to dest of dc.
    void Paint(HDC dc, const RECT& dest, POINT source) const;

    // The background as a brush, for controls that fill themselves with the brush their parent
    // gives them: align it with SetBrushOrgEx(dc, -left, -top) for a control at left, top.
    HBRUSH Brush() const { return static_cast<HBRUSH>(brush_.get()); }

private:
    int width_;
    int height_;
    UniqueGdiObject bitmap_;
    UniqueGdiObject brush_;
};

} // namespace pw
