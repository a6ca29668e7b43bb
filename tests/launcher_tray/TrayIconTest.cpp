// The tray icon: the records handed to the shell, the refresh message, the mouse mapping
// driven by real callback messages, the popup menu and the shell's restart.
#include "support/TrayIcon.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <cstring>
#include <vector>

#include "support/Testing.h"

namespace pw {
namespace {

using test::PumpUntil;

struct ShellCall {
    DWORD message;
    TNotifyIconData data;
};

class Tray : public ::testing::Test {
protected:
    Tray() : tray(std::make_unique<TTrayIcon>()) { Record(*tray); }

    void Record(TTrayIcon& icon) {
        icon.ShellNotifyIcon = [this](DWORD message, TNotifyIconData* data) {
            ShellCall call{message, {}};
            std::memcpy(&call.data, data, sizeof call.data);
            // The version that follows every add is kept apart from the icon's own calls.
            (message == NIM_SETVERSION ? versions : calls).push_back(call);
            return TRUE;
        };
    }

    // Lets posted messages arrive.
    static void Settle() {
        PumpUntil([] { return false; }, 200);
    }

    void PostMouse(UINT mouseMessage) {
        PostMessageA(tray->CallbackHandle(), TTrayIcon::kCallbackMessage, 0, mouseMessage);
    }

    std::vector<DWORD> Messages() const {
        std::vector<DWORD> result;
        for (const auto& call : calls)
            result.push_back(call.message);
        return result;
    }

    std::vector<ShellCall> calls;
    std::vector<ShellCall> versions;
    std::unique_ptr<TTrayIcon> tray;
    UniqueIcon picture{CopyIcon(LoadIconA(nullptr, IDI_APPLICATION))};
};

TEST_F(Tray, AddSendsTheFixedRecordWithToolTipCutAt62) {
    const std::string longTip(70, 'x');
    tray->SetToolTip(longTip);
    tray->SetIcon(picture.get());
    EXPECT_TRUE(calls.empty()) << "nothing reaches the shell while inactive";
    EXPECT_EQ(tray->ToolTip(), longTip.substr(0, 62));

    tray->SetActive(true);
    Settle();
    ASSERT_EQ(Messages(), std::vector<DWORD>{NIM_ADD}) << "no refresh with a tool tip set";
    const TNotifyIconData& data = calls[0].data;
    EXPECT_EQ(data.cbSize, 88u);
    EXPECT_EQ(data.hWnd, tray->CallbackHandle());
    EXPECT_EQ(data.uID, 0u);
    EXPECT_EQ(data.uFlags, 7u);
    EXPECT_EQ(data.uCallbackMessage, 1025u);
    EXPECT_EQ(std::string(data.szTip), longTip.substr(0, 62));

    // The component shows its own copy, which outlives the caller's picture.
    EXPECT_EQ(data.hIcon, tray->Icon());
    EXPECT_NE(data.hIcon, picture.get());
    picture.reset();
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(tray->Icon(), &info));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

TEST_F(Tray, EmptyToolTipPostsOneRefreshThatResendsTheCurrentState) {
    tray->SetActive(true);
    ASSERT_EQ(Messages(), std::vector<DWORD>{NIM_ADD});
    Settle();
    ASSERT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD, NIM_MODIFY}));
    EXPECT_EQ(calls[1].data.uFlags, 7u);
    EXPECT_EQ(calls[1].data.szTip[0], '\0');

    tray->SetToolTip("3 new messages");
    tray->SetIcon(picture.get());
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(std::string(calls[3].data.szTip), "3 new messages");
    EXPECT_EQ(calls[3].data.hIcon, tray->Icon());
}

// The resting picture is set again every ten seconds and the tool tip again for each mailbox:
// only a change may reach the shell, and only with the field that changed (under Wine each icon
// sent is serialised into the tray's process). An animation copies each frame once.
TEST_F(Tray, OnlyChangesReachTheShellAndEachFrameIsCopiedOnce) {
    const UniqueIcon second{CopyIcon(LoadIconA(nullptr, IDI_WARNING))};
    tray->SetToolTip("tip");
    tray->SetIcon(picture.get());
    tray->SetActive(true);
    ASSERT_EQ(Messages(), std::vector<DWORD>{NIM_ADD});
    const HICON firstCopy = tray->Icon();

    tray->SetIcon(picture.get());
    tray->SetToolTip("tip");
    EXPECT_EQ(calls.size(), 1u) << "the same picture and tool tip again are no change";

    tray->SetToolTip("Checking a@b for new messages...");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].data.uFlags, static_cast<UINT>(NIF_TIP));
    EXPECT_EQ(std::string(calls[1].data.szTip), "Checking a@b for new messages...");

    tray->SetIcon(second.get());
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[2].data.uFlags, static_cast<UINT>(NIF_ICON));
    const HICON secondCopy = tray->Icon();
    EXPECT_NE(secondCopy, firstCopy);
    EXPECT_EQ(calls[2].data.hIcon, secondCopy);

    tray->SetIcon(picture.get());
    EXPECT_EQ(tray->Icon(), firstCopy) << "a picture given before is shown from its copy";
    tray->SetIcon(second.get());
    EXPECT_EQ(tray->Icon(), secondCopy);
    EXPECT_EQ(calls.size(), 5u);

    tray->SetIcon(nullptr);
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[5].data.hIcon, nullptr);
}

// More pictures than the copies kept: the oldest copy goes, the one on show is always valid.
TEST_F(Tray, ManyPicturesKeepTheShownCopyValid) {
    tray->SetActive(true);
    std::vector<UniqueIcon> pictures;
    for (int i = 0; i < 40; ++i)
        pictures.emplace_back(CopyIcon(LoadIconA(nullptr, IDI_APPLICATION)));
    for (const UniqueIcon& each : pictures) {
        tray->SetIcon(each.get());
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(tray->Icon(), &info));
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        EXPECT_EQ(calls.back().data.hIcon, tray->Icon());
    }
}

TEST_F(Tray, InactiveIconIsRemovedAndModifiedNoMore) {
    tray->SetToolTip("tip");
    tray->SetActive(true);
    tray->SetActive(true); // no change, no action
    tray->SetActive(false);
    tray->SetToolTip("later");
    Settle();
    EXPECT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));
    EXPECT_EQ(calls[1].data.hWnd, tray->CallbackHandle());
    tray.reset();
    EXPECT_EQ(calls.size(), 2u) << "an icon not shown is not removed again";
}

TEST_F(Tray, DestructionRemovesAShownIcon) {
    tray->SetToolTip("tip");
    tray->SetActive(true);
    const HWND window = tray->CallbackHandle();
    tray.reset();
    ASSERT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));
    EXPECT_EQ(calls[1].data.hWnd, window);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(Tray, DesignModeShowsOnlyWithShowDesigning) {
    tray->SetShowDesigning(true); // ignored outside design mode
    EXPECT_TRUE(calls.empty());

    TComponent form;
    form.SetDesigning(true);
    TTrayIcon& designed = form.CreateOwned<TTrayIcon>();
    Record(designed);
    designed.SetToolTip("tip");
    designed.SetActive(true);
    EXPECT_TRUE(calls.empty());
    designed.SetShowDesigning(true);
    EXPECT_EQ(Messages(), std::vector<DWORD>{NIM_ADD});
    designed.SetShowDesigning(false);
    designed.SetShowDesigning(true);
    EXPECT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE, NIM_ADD}));
}

TEST_F(Tray, ShellRestartAddsTheIconAgainWhenActive) {
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    tray->SetToolTip("tip");
    SendMessageA(tray->CallbackHandle(), taskbarCreated, 0, 0);
    EXPECT_TRUE(calls.empty());
    tray->SetActive(true);
    SendMessageA(tray->CallbackHandle(), taskbarCreated, 0, 0);
    ASSERT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD, NIM_ADD}));
    EXPECT_EQ(std::string(calls[1].data.szTip), "tip");
}

TEST_F(Tray, BalloonIsAQuietWarningWithBoundedTextsOnlyWhileShown) {
    EXPECT_FALSE(tray->ShowBalloon("pwagent", "not shown yet"));
    EXPECT_TRUE(calls.empty());

    tray->SetToolTip("tip");
    tray->SetActive(true);
    const std::string longTitle(100, 't');
    const std::string longText(300, 'x');
    EXPECT_TRUE(tray->ShowBalloon(longTitle, longText));
    tray->SetToolTip("after");
    ASSERT_EQ(Messages(), (std::vector<DWORD>{NIM_ADD, NIM_MODIFY, NIM_MODIFY}));
    const TNotifyIconData& balloon = calls[1].data;
    EXPECT_EQ(balloon.cbSize, 488u);
    EXPECT_EQ(balloon.hWnd, tray->CallbackHandle());
    EXPECT_EQ(balloon.uID, 0u);
    EXPECT_EQ(balloon.uFlags, static_cast<UINT>(NIF_INFO)) << "icon and tool tip stay";
    EXPECT_EQ(balloon.dwInfoFlags & ~TTrayIcon::kRespectQuietTime,
              static_cast<DWORD>(NIIF_WARNING | NIIF_NOSOUND));
    EXPECT_EQ(std::string(balloon.szInfoTitle), longTitle.substr(0, 63));
    EXPECT_EQ(std::string(balloon.szInfo), longText.substr(0, 255));
    // The icon's own record keeps its first form.
    EXPECT_EQ(calls[2].data.cbSize, 88u);
    EXPECT_EQ(calls[2].data.uFlags, static_cast<UINT>(NIF_TIP));
    EXPECT_EQ(std::string(calls[2].data.szTip), "after");

    tray->SetActive(false);
    EXPECT_FALSE(tray->ShowBalloon("pwagent", "gone"));
    EXPECT_EQ(calls.size(), 4u);
}

// Every add asks for the notifications that bring the balloon's click; balloons are held in
// quiet hours where the system knows the flag, and only there.
TEST_F(Tray, BalloonsRespectQuietTimeWhereKnownAndTheirClickIsAnEvent) {
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    tray->SetToolTip("tip");
    tray->SetActive(true);
    SendMessageA(tray->CallbackHandle(), taskbarCreated, 0, 0);
    ASSERT_EQ(versions.size(), 2u);
    for (const ShellCall& version : versions) {
        EXPECT_EQ(version.data.cbSize, TTrayIcon::kBalloonRecordSize);
        EXPECT_EQ(version.data.hWnd, tray->CallbackHandle());
        EXPECT_EQ(version.data.uTimeout, static_cast<UINT>(NOTIFYICON_VERSION));
    }
    for (const bool known : {true, false}) {
        tray->RespectQuietTime = known;
        tray->ShowBalloon("pwagent", "text");
        EXPECT_EQ(calls.back().data.dwInfoFlags,
                  NIIF_WARNING | NIIF_NOSOUND | (known ? TTrayIcon::kRespectQuietTime : 0u));
    }
    int balloonClicks = 0;
    int activations = 0;
    tray->OnBalloonClick = [&](TObject&) { ++balloonClicks; };
    tray->OnDblClick = [&](TObject&) { ++activations; };
    PostMouse(NIN_BALLOONUSERCLICK);
    PostMouse(NIN_KEYSELECT);
    PostMouse(NIN_SELECT); // a mouse selection: its button messages are the events
    Settle();
    EXPECT_EQ(balloonClicks, 1);
    EXPECT_EQ(activations, 1);
}

TEST_F(Tray, BalloonReachesTheShellThroughTheRealCall) {
    TTrayIcon real; // the default seam: Shell_NotifyIconA
    real.SetIcon(picture.get());
    real.SetToolTip("pwagent test");
    real.SetActive(true);
    // Whether a notification area exists depends on the desktop; the call must not fail in
    // any other way, and a shell that took the icon takes its balloon.
    NOTIFYICONDATAA probe{};
    probe.cbSize = NOTIFYICONDATAA_V1_SIZE;
    probe.hWnd = real.CallbackHandle();
    const bool hasTray = Shell_NotifyIconA(NIM_MODIFY, &probe) != FALSE;
    EXPECT_EQ(real.ShowBalloon("pwagent", std::string(400, 'b')), hasTray);
    EXPECT_EQ(real.ShowBalloon("pwagent", ""), hasTray);
}

TEST_F(Tray, MouseMessagesBecomeEvents) {
    int clicks = 0;
    int doubleClicks = 0;
    std::vector<int> order;
    tray->OnClick = [&](TObject& sender) {
        EXPECT_EQ(&sender, tray.get());
        ++clicks;
        order.push_back(1);
    };
    tray->OnDblClick = [&](TObject&) {
        ++doubleClicks;
        order.push_back(2);
    };
    // A double click as the shell reports it: up, double click, up. Moves and downs do
    // nothing.
    for (UINT message : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP,
                         WM_RBUTTONDOWN, WM_MBUTTONUP})
        PostMouse(message);
    Settle();
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(doubleClicks, 1);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 1}));
}

TEST_F(Tray, RightClickWithoutMenuStillReportsTheCursor) {
    int rightClicks = 0;
    POINT reported{};
    tray->OnRightClick = [&](TObject&, TMouseButton button, TShiftState shift, int x, int y) {
        ++rightClicks;
        EXPECT_EQ(button, mbRight);
        EXPECT_EQ(shift, 0u);
        reported = {x, y};
    };
    SetCursorPos(37, 41);
    POINT cursor{};
    GetCursorPos(&cursor);
    PostMouse(WM_RBUTTONUP);
    Settle();
    EXPECT_EQ(rightClicks, 1);
    EXPECT_EQ(reported.x, cursor.x);
    EXPECT_EQ(reported.y, cursor.y);
}

// Chooses the first item of the open popup menu by keyboard, from inside the menu's loop.
void CALLBACK ChooseFirstItem(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    const HWND menu = FindWindowA("#32768", nullptr); // the popup menu's class
    if (menu == nullptr) {
        EndMenu();
        return;
    }
    PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
    PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
}

TEST_F(Tray, MenuCommandArrivesAfterTheRightClick) {
    UniqueMenu menu(CreatePopupMenu());
    AppendMenuA(menu.get(), MF_STRING, 42, "Check Now!");
    AppendMenuA(menu.get(), MF_STRING, 43, "Close");
    tray->PopupMenu = menu.get();
    std::vector<std::string> order;
    tray->OnRightClick = [&](TObject&, TMouseButton, TShiftState, int, int) {
        order.push_back("right click");
    };
    tray->OnMenuCommand = [&](TObject& sender, UINT id) {
        EXPECT_EQ(&sender, tray.get());
        order.push_back("command " + std::to_string(id));
    };
    SetTimer(nullptr, 0, 300, &ChooseFirstItem);
    PostMouse(WM_RBUTTONUP);
    ASSERT_TRUE(PumpUntil([&] { return order.size() >= 2; }, 5000));
    EXPECT_EQ(order, (std::vector<std::string>{"right click", "command 42"}));
}

} // namespace
} // namespace pw
