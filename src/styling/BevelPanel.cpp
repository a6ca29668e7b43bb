// The bevelled panel; see BevelPanel.h.
#include "BevelPanel.h"

#include "core/Component.h"
#include "styling/Gdi.h"
#include "styling/StyledText.h"

namespace pw {

namespace {
WindowSpec PanelSpec(HWND parent, const RECT& place, const std::string& caption) {
    WindowSpec layout;
    layout.ClassName = "TPanel";
    layout.Caption = caption;
    layout.Style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    layout.ExStyle = 0;
    layout.Left = place.left;
    layout.Top = place.top;
    layout.Width = place.right - place.left;
    layout.Height = place.bottom - place.top;
    layout.Owner = parent;
    return layout;
}

// Lines of the given width: top and left in one colour, bottom and right in another. Shrinks
// the rectangle by the width.
void Frame3D(HDC dc, RECT& rect, COLORREF topLeft, COLORREF bottomRight, int width) {
    for (int i = 0; i < width && rect.right > rect.left && rect.bottom > rect.top; ++i) {
        FillSolid(dc, RECT{rect.left, rect.top, rect.right, rect.top + 1}, topLeft);
        FillSolid(dc, RECT{rect.left, rect.top, rect.left + 1, rect.bottom}, topLeft);
        FillSolid(dc, RECT{rect.left, rect.bottom - 1, rect.right, rect.bottom}, bottomRight);
        FillSolid(dc, RECT{rect.right - 1, rect.top, rect.right, rect.bottom}, bottomRight);
        InflateRect(&rect, -1, -1);
    }
}
} // namespace

TPanel::TPanel(HWND parent, int id, const RECT& place, std::string caption)
    : caption_(std::move(caption)),
      window_(PanelSpec(parent, place, caption_),
              [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                  return HandleMessage(msg, wParam, lParam, result);
              }) {
    SetWindowLongPtrA(window_.Handle(), GWLP_ID, id);
}

void TPanel::SetBevelWidth(int value) {
    if (value == bevelWidth_)
        return;
    bevelWidth_ = value;
    InvalidateRect(window_.Handle(), nullptr, FALSE);
}

void TPanel::SetBorderWidth(int value) {
    if (value == borderWidth_)
        return;
    borderWidth_ = value;
    InvalidateRect(window_.Handle(), nullptr, FALSE);
}

bool TPanel::HandleMessage(UINT msg, WPARAM, LPARAM lParam, LRESULT& result) {
    result = 0;
    switch (msg) {
    case WM_ERASEBKGND:
        result = 1; // all painting happens in WM_PAINT, off screen
        return true;
    case WM_PAINT:
        Paint();
        return true;
    case WM_LBUTTONDOWN:
        ButtonDown();
        return true;
    case WM_LBUTTONUP:
        ButtonUp(POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
        return true;
    case WM_CAPTURECHANGED:
        // Capture taken away mid-press (a menu, another window): the press is over.
        if (pressed_) {
            pressed_ = false;
            Fire(OnMouseUp, *this);
        }
        return true;
    default:
        return false;
    }
}

void TPanel::ButtonDown() {
    pressed_ = true;
    SetCapture(window_.Handle());
    Fire(OnMouseDown, *this);
}

void TPanel::ButtonUp(POINT at) {
    if (!pressed_)
        return;
    pressed_ = false;
    if (GetCapture() == window_.Handle())
        ReleaseCapture();
    Fire(OnMouseUp, *this);
    RECT client{};
    GetClientRect(window_.Handle(), &client);
    if (PtInRect(&client, at))
        Fire(OnClick, *this);
}

void TPanel::Paint() {
    const PaintScope paint(window_.Handle());
    RECT rect{};
    GetClientRect(window_.Handle(), &rect);
    DoubleBuffer buffer(paint.get(), rect);
    Frame3D(buffer.Dc(), rect, GetSysColor(COLOR_BTNHIGHLIGHT), GetSysColor(COLOR_BTNSHADOW),
            bevelWidth_);
    Frame3D(buffer.Dc(), rect, Color, Color, borderWidth_);
    FillSolid(buffer.Dc(), rect, Color);
    TextStyle style;
    style.Font = Font;
    style.Colour = FontColor;
    style.Format = DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX;
    DrawStyledText(buffer.Dc(), caption_, rect, style);
}

} // namespace pw
