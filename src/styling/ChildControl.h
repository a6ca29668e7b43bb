// Child controls of the product's fixed forms: one call creates a control at its place with its
// id and gives it the form's font.
#pragma once

#include <windows.h>

namespace pw {

// The font is not owned: the form keeps it alive as long as the control.
inline HWND CreateChild(HWND parent, const char* className, const char* text, DWORD style,
                        DWORD exStyle, int id, const RECT& place, HFONT font) {
    HWND child = CreateWindowExA(
        exStyle, className, text, WS_CHILD | WS_CLIPSIBLINGS | style, place.left, place.top,
        place.right - place.left, place.bottom - place.top, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

} // namespace pw
