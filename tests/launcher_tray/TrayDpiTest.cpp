// The tray pictures at the display's scale: the size asked under a per-monitor context (driven
// through a display that answers as Windows does a program that is not DPI-aware), the agent's
// pictures drawn in every tray size, and the icon the shell gets at the DPI of the Wine prefix
// (PW_TEST_DPI; tray-dpi.sh runs that test in a prefix at 120, 144 and 192 DPI).
#include "support/TrayIcon.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace pw {
namespace {

constexpr WORD kAgentImage1 = 101; // the agent's resources number Image1 to Image13 from 101
constexpr UINT kWmDpiChanged = 0x02E0;

// A display of dpi as Windows shows it to a thread that is not DPI-aware: 96 DPI and 16-pixel
// small icons; the real DPI only under a per-monitor-aware context.
struct ScaledDisplay {
    UINT dpi = 96;
    bool hasSecondVersion = true;
    DPI_AWARENESS_CONTEXT context = DPI_AWARENESS_CONTEXT_UNAWARE;
    std::vector<DPI_AWARENESS_CONTEXT> switches;

    bool Aware() const {
        return context == DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE ||
               context == DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2;
    }
    DpiFunctions Functions() {
        DpiFunctions functions;
        functions.SetThreadDpiAwarenessContext = [this](DPI_AWARENESS_CONTEXT next) {
            if (next == DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2 && !hasSecondVersion)
                return DPI_AWARENESS_CONTEXT(nullptr);
            switches.push_back(next);
            return std::exchange(context, next);
        };
        functions.EffectiveDpiForMonitor = [this](HMONITOR) { return Aware() ? dpi : 96u; };
        functions.GetSystemMetricsForDpi = [](int index, UINT at) {
            return index == SM_CXSMICON ? MulDiv(16, static_cast<int>(at), 96) : 0;
        };
        functions.GetSystemMetrics = [](int index) { return index == SM_CXSMICON ? 16 : 0; };
        return functions;
    }
};

int IconWidth(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info))
        return 0;
    BITMAP bitmap{};
    GetObjectA(info.hbmMask, sizeof bitmap, &bitmap);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

// An entry of an icon group resource's directory.
#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

// The sizes an icon resource of this program holds, from its group directory.
std::vector<int> ResourceSizes(WORD resource) {
    const HMODULE module = GetModuleHandleA(nullptr);
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(resource), RT_GROUP_ICON);
    const auto* data =
        found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
    if (data == nullptr || SizeofResource(module, found) < 6)
        return {};
    WORD count = 0;
    std::memcpy(&count, data + 4, sizeof count);
    if (SizeofResource(module, found) < 6 + count * sizeof(GroupEntry))
        return {};
    std::vector<int> sizes;
    for (WORD i = 0; i < count; ++i) {
        GroupEntry entry{};
        std::memcpy(&entry, data + 6 + i * sizeof entry, sizeof entry);
        sizes.push_back(entry.width == 0 ? 256 : entry.width);
    }
    return sizes;
}

class TrayAtScale : public ::testing::Test {
protected:
    TrayAtScale() {
        // The pictures the shell gets; the version that follows each add carries none.
        tray.ShellNotifyIcon = [this](DWORD message, TNotifyIconData* data) {
            if (message != NIM_SETVERSION)
                shown.emplace_back(message, IconWidth(data->hIcon));
            return TRUE;
        };
        tray.Dpi = display.Functions();
        tray.SetToolTip("tip");
    }
    void Show(WORD resource) {
        picture.reset(static_cast<HICON>(LoadImageA(
            GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resource), IMAGE_ICON, 32, 32, 0)));
        tray.SetIconResource(picture.get(), GetModuleHandleA(nullptr), resource);
        tray.SetIcon(picture.get());
        tray.SetActive(true);
    }

    ScaledDisplay display;
    TTrayIcon tray;
    UniqueIcon picture;
    std::vector<std::pair<DWORD, int>> shown; // shell message, width of the icon it got
};

TEST(TrayDpi, SizeIsAskedUnderAPerMonitorContextThatIsThenUndone) {
    ScaledDisplay display;
    const DpiFunctions functions = display.Functions();
    for (auto [dpi, size] : {std::pair{96u, 16}, {120u, 20}, {144u, 24}, {192u, 32}}) {
        display.dpi = dpi;
        EXPECT_EQ(NotificationIconSize(functions), size) << dpi << " DPI";
        EXPECT_EQ(display.context, DPI_AWARENESS_CONTEXT_UNAWARE);
    }
    EXPECT_EQ(display.switches.size(), 8u);
    EXPECT_EQ(display.switches.front(), DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);

    // Windows 10 1607 has only the first per-monitor version.
    display.hasSecondVersion = false;
    display.switches.clear();
    EXPECT_EQ(NotificationIconSize(functions), 32);
    EXPECT_EQ(display.switches,
              (std::vector<DPI_AWARENESS_CONTEXT>{DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE,
                                                  DPI_AWARENESS_CONTEXT_UNAWARE}));
}

TEST(TrayDpi, WithoutTheFunctionsTheSizeIsWhatTheThreadIsTold) {
    ScaledDisplay display;
    display.dpi = 144;
    DpiFunctions older = display.Functions();
    older.SetThreadDpiAwarenessContext = nullptr; // before Windows 10 1607
    EXPECT_EQ(NotificationIconSize(older), 16);
    DpiFunctions failing = display.Functions();
    failing.EffectiveDpiForMonitor = [](HMONITOR) { return 0u; };
    EXPECT_EQ(NotificationIconSize(failing), 16);
    EXPECT_EQ(display.context, DPI_AWARENESS_CONTEXT_UNAWARE);
}

TEST(TrayDpi, EveryAgentPictureIsDrawnInEveryTraySize) {
    for (WORD n = 0; n < 13; ++n)
        EXPECT_EQ(ResourceSizes(kAgentImage1 + n), (std::vector<int>{16, 20, 24, 32}))
            << "Image" << n + 1;
}

TEST_F(TrayAtScale, ThePictureFollowsTheDisplaysScaleAndTheShellsRestart) {
    Show(kAgentImage1 + 1);
    ASSERT_EQ(shown, (std::vector<std::pair<DWORD, int>>{{NIM_ADD, tray.IconSize()}}));
    shown.clear();
    display.dpi = 96;
    SendMessageA(tray.DisplayWatcherHandle(), WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
    display.dpi = 144;
    SendMessageA(tray.DisplayWatcherHandle(), WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
    display.dpi = 192;
    SendMessageA(tray.DisplayWatcherHandle(), kWmDpiChanged, MAKEWPARAM(192, 192), 0);
    SendMessageA(tray.DisplayWatcherHandle(), kWmDpiChanged, MAKEWPARAM(192, 192), 0);
    display.dpi = 120;
    SendMessageA(tray.CallbackHandle(), RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    const auto expected =
        std::vector<std::pair<DWORD, int>>{{NIM_MODIFY, 24}, {NIM_MODIFY, 32}, {NIM_ADD, 20}};
    EXPECT_EQ(shown, expected) << "a change of size only, in the tray's size each time";
    EXPECT_EQ(tray.IconSize(), 20);
}

TEST_F(TrayAtScale, APictureWithoutItsResourceIsShownAsGiven) {
    display.dpi = 144;
    SendMessageA(tray.DisplayWatcherHandle(), WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
    const UniqueIcon given(static_cast<HICON>(LoadImageA(
        GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kAgentImage1), IMAGE_ICON, 32, 32, 0)));
    tray.SetIcon(given.get());
    tray.SetActive(true);
    EXPECT_EQ(shown, (std::vector<std::pair<DWORD, int>>{{NIM_ADD, 32}}));
}

// The watcher's window is made under a per-monitor context, so that the system tells it of a
// change of scale; the callback window, which owns the popup menu, is made as the program's
// other windows are.
TEST(TrayDpi, OnlyTheDisplayWatchersWindowIsMadePerMonitorAware) {
    ScaledDisplay display;
    int changes = 0;
    const DisplayChangeWatcher watcher([&changes] { ++changes; }, display.Functions());
    EXPECT_EQ(display.switches,
              (std::vector<DPI_AWARENESS_CONTEXT>{DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2,
                                                  DPI_AWARENESS_CONTEXT_UNAWARE}));
    SendMessageA(watcher.Handle(), kWmDpiChanged, MAKEWPARAM(144, 144), 0);
    SendMessageA(watcher.Handle(), WM_DISPLAYCHANGE, 32, MAKELPARAM(1024, 768));
    EXPECT_EQ(changes, 2);

    const HMODULE user32 = GetModuleHandleA("user32.dll");
    const auto windowContext = reinterpret_cast<DPI_AWARENESS_CONTEXT(WINAPI*)(HWND)>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "GetWindowDpiAwarenessContext")));
    const auto awareness =
        reinterpret_cast<int(WINAPI*)(DPI_AWARENESS_CONTEXT)>(reinterpret_cast<void (*)()>(
            GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    if (windowContext == nullptr || awareness == nullptr)
        GTEST_SKIP() << "this system has no per-window DPI awareness";
    TTrayIcon tray;
    const UtilityWindow plain([](UINT, WPARAM, LPARAM, LRESULT&) { return false; });
    EXPECT_EQ(awareness(windowContext(tray.CallbackHandle())),
              awareness(windowContext(plain.Handle())));
    EXPECT_EQ(awareness(windowContext(tray.DisplayWatcherHandle())), 2) << "per-monitor aware";
}

// Run at the prefix's real DPI, with the system's functions.
TEST(TrayIconAtDisplayDpi, TheShellGetsThePictureOfTheSizeTheDpiAsksFor) {
    const char* dpiText = std::getenv("PW_TEST_DPI");
    if (dpiText == nullptr)
        GTEST_SKIP() << "PW_TEST_DPI does not name the display's DPI";
    const int dpi = std::atoi(dpiText);
    const int expected = MulDiv(16, dpi, 96);
    TTrayIcon tray;
    std::vector<int> widths;
    tray.ShellNotifyIcon = [&widths](DWORD message, TNotifyIconData* data) {
        if (message != NIM_SETVERSION)
            widths.push_back(IconWidth(data->hIcon));
        return TRUE;
    };
    const UniqueIcon picture(static_cast<HICON>(LoadImageA(
        GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kAgentImage1 + 1), IMAGE_ICON, 32, 32, 0)));
    tray.SetIconResource(picture.get(), GetModuleHandleA(nullptr), kAgentImage1 + 1);
    tray.SetToolTip("tip");
    tray.SetIcon(picture.get());
    tray.SetActive(true);
    EXPECT_EQ(tray.IconSize(), expected);
    EXPECT_EQ(widths, std::vector<int>{expected});
    std::printf("tray picture at %d DPI: %d pixels\n", dpi, widths.empty() ? 0 : widths[0]);
}

} // namespace
} // namespace pw
