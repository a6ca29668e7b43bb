// One move-only owner for every kind of Win32 handle, with a traits type per kind that says
// what "none" is and how the handle is released.
#pragma once

#include <windows.h>

#include <utility>

namespace pw {

template <typename Traits> class UniqueHandle {
public:
    using pointer = typename Traits::pointer;

    UniqueHandle() = default;
    explicit UniqueHandle(pointer handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    pointer get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::invalid(); }

    pointer release() { return std::exchange(handle_, Traits::invalid()); }
    void reset(pointer handle = Traits::invalid()) {
        const pointer old = std::exchange(handle_, handle);
        if (old != Traits::invalid())
            Traits::close(old);
    }

private:
    pointer handle_ = Traits::invalid();
};

struct ModuleTraits {
    using pointer = HMODULE;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { FreeLibrary(h); }
};

struct WindowTraits {
    using pointer = HWND;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { DestroyWindow(h); }
};

// Process, thread and event handles: "none" is null.
struct KernelHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { CloseHandle(h); }
};

// File handles: "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) { CloseHandle(h); }
};

struct IconTraits {
    using pointer = HICON;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { DestroyIcon(h); }
};

struct MenuTraits {
    using pointer = HMENU;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { DestroyMenu(h); }
};

struct GdiObjectTraits {
    using pointer = HGDIOBJ;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { DeleteObject(h); }
};

// A region is a GDI object too; its own kind keeps the HRGN type for the region calls.
struct RegionTraits {
    using pointer = HRGN;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { DeleteObject(h); }
};

// DCs from CreateCompatibleDC.
struct MemoryDCTraits {
    using pointer = HDC;
    static pointer invalid() { return nullptr; }
    static void close(pointer h) { DeleteDC(h); }
};

using UniqueModule = UniqueHandle<ModuleTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueRegion = UniqueHandle<RegionTraits>;
using UniqueMemoryDC = UniqueHandle<MemoryDCTraits>;

// A DC from GetDC / GetWindowDC, released to its window. Its release needs the window, so it
// is a scope of its own rather than a handle kind.
class WindowDC {
public:
    enum Area { Client, Whole };
    WindowDC(HWND window, Area area)
        : window_(window), dc_(area == Whole ? GetWindowDC(window) : GetDC(window)) {}
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    ~WindowDC() {
        if (dc_ != nullptr)
            ReleaseDC(window_, dc_);
    }
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// The screen's DC, for measuring fonts and making bitmaps that suit the display.
class ScreenDC : public WindowDC {
public:
    ScreenDC() : WindowDC(nullptr, Client) {}
};

// One WM_PAINT: BeginPaint on construction, EndPaint when the scope ends.
class PaintScope {
public:
    explicit PaintScope(HWND window) : window_(window), dc_(BeginPaint(window, &info_)) {}
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { EndPaint(window_, &info_); }
    HDC get() const { return dc_; }
    const PAINTSTRUCT& Info() const { return info_; }

private:
    HWND window_;
    PAINTSTRUCT info_{}; // before dc_: BeginPaint fills it while dc_ is initialised
    HDC dc_;
};

// Loads a system library from the system directory only, never from the current directory or
// the program's folder, so that a planted DLL is not picked up.
UniqueModule LoadSystemLibrary(const char* name);

} // namespace pw
