// GDI helpers; see Gdi.h.
#include "Gdi.h"

namespace pw {

namespace {
UniqueGdiObject BufferBitmap(HDC target, const RECT& area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return UniqueGdiObject();
    return UniqueGdiObject(CreateCompatibleBitmap(target, width, height));
}
} // namespace

DoubleBuffer::DoubleBuffer(HDC target, const RECT& area)
    : target_(target), area_(area), memory_(CreateCompatibleDC(target)),
      bitmap_(memory_ ? BufferBitmap(target, area) : UniqueGdiObject()),
      selected_(memory_.get(), bitmap_.get()) {
    if (selected_)
        SetViewportOrgEx(memory_.get(), -area.left, -area.top, nullptr);
}

// The selection is undone after the blit, before the bitmap and the DC go.
DoubleBuffer::~DoubleBuffer() {
    if (!selected_)
        return;
    SetViewportOrgEx(memory_.get(), 0, 0, nullptr);
    BitBlt(target_, area_.left, area_.top, area_.right - area_.left, area_.bottom - area_.top,
           memory_.get(), 0, 0, SRCCOPY);
}

namespace {
int CALLBACK FoundFace(const LOGFONTA*, const TEXTMETRICA*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}
} // namespace

std::string ChooseFontFace(std::initializer_list<const char*> faces) {
    std::string chosen;
    const ScreenDC screen;
    for (const char* face : faces) {
        chosen = face;
        bool found = false;
        EnumFontFamiliesA(screen.get(), face, &FoundFace, reinterpret_cast<LPARAM>(&found));
        if (found)
            break;
    }
    return chosen;
}

const std::string& DialogFontFace() {
    static const std::string face =
        ChooseFontFace({"MS Sans Serif", "Microsoft Sans Serif", "Tahoma", "Arial",
                        "Liberation Sans", "DejaVu Sans"});
    return face;
}

namespace {
UniqueGdiObject CreateFace(const std::string& face, int height, bool bold, bool italic) {
    LOGFONTA font{};
    font.lfHeight = height;
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfItalic = italic ? TRUE : FALSE;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = DEFAULT_QUALITY;
    lstrcpynA(font.lfFaceName, face.c_str(), LF_FACESIZE);
    return UniqueGdiObject(CreateFontIndirectA(&font));
}

// Whether the font the system made has the slant and weight asked for.
bool Realised(HGDIOBJ font, bool bold, bool italic) {
    const ScreenDC screen;
    const SelectedObject selected(screen.get(), font);
    TEXTMETRICA metrics{};
    GetTextMetricsA(screen.get(), &metrics);
    return (metrics.tmItalic != 0) == italic && (metrics.tmWeight >= FW_BOLD) == bold;
}
} // namespace

UniqueGdiObject MakeFont(const std::string& face, int height, bool bold, bool italic) {
    UniqueGdiObject font = CreateFace(face, height, bold, italic);
    if (!italic || !font || Realised(font.get(), bold, italic))
        return font;
    // Some systems cannot slant a bitmap face: take an outline face that has the style then.
    for (const char* other : {"Arial", "Liberation Sans", "DejaVu Sans", "Tahoma"}) {
        UniqueGdiObject candidate = CreateFace(other, height, bold, italic);
        if (candidate && Realised(candidate.get(), bold, italic))
            return candidate;
    }
    return font;
}

COLORREF BlendColour(COLORREF from, COLORREF to, int step, int steps) {
    if (steps <= 0)
        return from;
    auto mix = [&](int a, int b) { return a + (b - a) * step / steps; };
    return RGB(mix(GetRValue(from), GetRValue(to)), mix(GetGValue(from), GetGValue(to)),
               mix(GetBValue(from), GetBValue(to)));
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
    const COLORREF old = SetBkColor(dc, colour);
    // An opaque empty text output is the cheapest solid fill.
    ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
    SetBkColor(dc, old);
}

} // namespace pw
