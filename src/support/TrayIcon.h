// TTrayIcon puts one icon with a tool tip into the notification area, turns mouse actions on
// it into events and shows a popup menu on a right click. Pictures drawn in several sizes reach
// the shell in the size the notification area shows at the display's real DPI.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/Component.h"
#include "win/DpiAwareness.h"
#include "win/Handles.h"
#include "win/UtilityWindow.h"

namespace pw {

// The shell's icon record up to its balloon fields. The icon itself is always sent in the
// record's first, 88-byte form (cbSize 88, a 64-byte tool tip), which every shell version
// accepts; only a balloon sends the longer form that Windows 2000 introduced.
struct TNotifyIconData {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[128]; // the 88-byte form ends after its first 64 bytes
    DWORD dwState;
    DWORD dwStateMask;
    CHAR szInfo[256];
    UINT uTimeout; // also uVersion, for NIM_SETVERSION
    CHAR szInfoTitle[64];
    DWORD dwInfoFlags;
};

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// A set of TShiftFlag bits; 0 is the empty set.
using TShiftState = uint32_t;
enum TShiftFlag : TShiftState {
    ssShift = 1,
    ssAlt = 2,
    ssCtrl = 4,
    ssLeft = 8,
    ssRight = 16,
    ssMiddle = 32,
    ssDouble = 64
};

using TMouseEvent =
    std::function<void(TObject& Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMenuCommandEvent = std::function<void(TObject& Sender, UINT CommandId)>;

class TTrayIcon : public TComponent {
public:
    static constexpr size_t kMaxToolTip = 62;
    static constexpr UINT kCallbackMessage = WM_USER + 1; // the icon's mouse messages
    static constexpr UINT kRefreshMessage = WM_USER + 2;  // re-send icon and tool tip
    static constexpr DWORD kIconRecordSize = 88;
    static constexpr DWORD kBalloonRecordSize = 488; // the form with balloon fields
    static constexpr size_t kMaxBalloonTitle = sizeof(TNotifyIconData::szInfoTitle) - 1;
    static constexpr size_t kMaxBalloonText = sizeof(TNotifyIconData::szInfo) - 1;
    // Windows XP shows a balloon at least 10 s; later versions use the user's setting.
    static constexpr UINT kBalloonTimeoutMs = 10000;
    // The shell's notifications of the Windows 2000 kind: the balloon's click among them.
    static constexpr UINT kNotifyVersion = 3;
    // Windows 7 and later hold such a balloon back during quiet hours and "Do not disturb".
    static constexpr DWORD kRespectQuietTime = 0x00000080;

    // Starts inactive with no icon and no tool tip; takes the design state of its owner.
    explicit TTrayIcon(TComponent* owner = nullptr);
    ~TTrayIcon() override;

    bool Active() const { return active_; }
    void SetActive(bool value);
    bool ShowDesigning() const { return showDesigning_; }
    void SetShowDesigning(bool value);
    // The component shows a copy of the picture and keeps its own; the caller keeps its own.
    // A picture is known by its handle: giving the one shown again changes nothing, and a
    // picture given before is shown again from the copy made then (an animation's frames cost
    // one copy each, once). A caller that destroys a picture must not hand over another one
    // under the same handle value while this component lives.
    HICON Icon() const { return icon_; }
    void SetIcon(HICON value);
    // The icon resource a picture was loaded from, when it holds several sizes: the shell is
    // then handed the picture of the size it shows (IconSize), loaded from there instead of a
    // copy that it would stretch. Give it before the picture itself.
    void SetIconResource(HICON picture, HINSTANCE module, WORD resource);
    // The pixel size of the notification area's pictures, asked again when the display's scale
    // or resolution changes and when the shell restarts.
    int IconSize() const { return iconSize_; }
    const std::string& ToolTip() const { return toolTip_; }
    // Only a change reaches the shell, and only the tool tip's field.
    void SetToolTip(const std::string& value);

    // Shows a warning balloon at the icon, without a sound; icon and tool tip stay. Title and
    // text are cut to what the record holds; an empty text takes a shown balloon away.
    // Nothing happens while the icon is not shown. True when the shell took the balloon.
    bool ShowBalloon(const std::string& title, const std::string& text);
    // Whether balloons ask to be held during the user's quiet time: by default on the systems
    // that know the flag (Windows 7 and later; earlier shells may refuse a flag they lack).
    bool RespectQuietTime;

    // Shown at the cursor on a right click; not owned. A chosen item arrives, once the
    // right click is over, as OnMenuCommand with the item's identifier.
    HMENU PopupMenu = nullptr;
    // The application's window, brought to the foreground while the menu shows; when none
    // is set, the component's own window stands in.
    HWND OwnerWindow = nullptr;

    TNotifyEvent OnClick;
    // Also the keyboard's activation of the icon (Enter or Space on it).
    TNotifyEvent OnDblClick;
    // The user clicked a balloon of this icon.
    TNotifyEvent OnBalloonClick;
    TMouseEvent OnRightClick;
    TMenuCommandEvent OnMenuCommand;

    // The window that receives the icon's messages.
    HWND CallbackHandle() const { return CallbackWindow.Handle(); }
    // The window that hears of changes of the display.
    HWND DisplayWatcherHandle() const { return displayWatcher_.Handle(); }

    // Seams for tests: the shell call, Shell_NotifyIconA by default, and the functions that
    // IconSize is asked with.
    std::function<BOOL(DWORD message, TNotifyIconData* data)> ShellNotifyIcon;
    DpiFunctions Dpi = DpiFunctions::System();

private:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void MouseMessage(UINT mouseMessage);
    void RightClick();
    bool Shown() const;
    void AddIcon();
    // NIM_MODIFY with the fields of flags; nothing while inactive.
    void ModifyIcon(UINT flags);
    HICON CopyOf(HICON picture);
    // Asks the size again; on a change the picture is made anew. True when there is a new one.
    bool FollowIconSize();
    void DeleteIcon();
    void FillIconData();
    void Notify(DWORD message);

    static constexpr size_t kMaxCopies = 16;

    bool active_ = false;
    bool showDesigning_ = false;
    HICON source_ = nullptr;                           // the caller's picture shown
    HICON icon_ = nullptr;                             // the copy of it, held in copies_
    std::vector<std::pair<HICON, UniqueIcon>> copies_; // by the caller's handle, oldest first
    struct IconResource {
        HICON picture;
        HINSTANCE module;
        WORD resource;
    };
    std::vector<IconResource> resources_;
    int iconSize_ = 0;
    std::string toolTip_;
    TNotifyIconData IconData{};
    UINT taskbarCreated_;
    UtilityWindow CallbackWindow;
    DisplayChangeWatcher displayWatcher_;
};

} // namespace pw
