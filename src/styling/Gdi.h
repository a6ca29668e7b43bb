// Small GDI helpers the styling components share: an owner for selections, an off-screen
// buffer for flicker-free painting, fonts with a fallback face, colour blending.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

#include "win/Handles.h"

namespace pw {

// Selects an object into a DC and puts the previous one back. A null object selects nothing,
// for callers whose object is optional.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object)
        : dc_(dc), old_(object != nullptr ? SelectObject(dc, object) : nullptr) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() {
        if (old_ != nullptr)
            SelectObject(dc_, old_);
    }
    // Whether the object went into the DC.
    explicit operator bool() const { return old_ != nullptr; }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Paints go into a memory bitmap of the area and reach the target in one blit when the buffer
// goes out of scope, so that a background and what is drawn over it never show one by one.
// The buffer takes the target's coordinates.
class DoubleBuffer {
public:
    DoubleBuffer(HDC target, const RECT& area);
    DoubleBuffer(const DoubleBuffer&) = delete;
    DoubleBuffer& operator=(const DoubleBuffer&) = delete;
    ~DoubleBuffer();
    HDC Dc() const { return memory_.get(); }

private:
    HDC target_;
    RECT area_;
    UniqueMemoryDC memory_;
    UniqueGdiObject bitmap_;
    SelectedObject selected_;
};

// The first of the faces that is installed; the last one when none is.
std::string ChooseFontFace(std::initializer_list<const char*> faces);

// The face the forms are designed in, or the closest one this system has.
const std::string& DialogFontFace();

UniqueGdiObject MakeFont(const std::string& face, int height, bool bold, bool italic);

// Colour number step of steps + 1 on the way from one colour to another (step 0 is from).
COLORREF BlendColour(COLORREF from, COLORREF to, int step, int steps);

// A solid fill without a brush of its own.
void FillSolid(HDC dc, const RECT& rect, COLORREF colour);

inline HFONT AsFont(const UniqueGdiObject& font) {
    return static_cast<HFONT>(font.get());
}
inline HBITMAP AsBitmap(const UniqueGdiObject& bitmap) {
    return static_cast<HBITMAP>(bitmap.get());
}

} // namespace pw
