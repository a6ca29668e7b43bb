// TTrayIcon puts one icon with a tool tip into the notification area, turns mouse actions on
// it into events and shows a popup menu on a right click.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "core/Component.h"
#include "win/Handles.h"
#include "win/UtilityWindow.h"

namespace pw {

// The shell's icon record in its first, 88-byte form: what every shell version accepts.
struct TNotifyIconData {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    CHAR szTip[64];
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

    // Starts inactive with no icon and no tool tip; takes the design state of its owner.
    explicit TTrayIcon(TComponent* owner = nullptr);
    ~TTrayIcon() override;

    bool Active() const { return active_; }
    void SetActive(bool value);
    bool ShowDesigning() const { return showDesigning_; }
    void SetShowDesigning(bool value);
    // The component keeps a copy of the picture; the caller keeps its own.
    HICON Icon() const { return icon_.get(); }
    void SetIcon(HICON value);
    const std::string& ToolTip() const { return toolTip_; }
    void SetToolTip(const std::string& value);

    // Shown at the cursor on a right click; not owned. A chosen item arrives, once the
    // right click is over, as OnMenuCommand with the item's identifier.
    HMENU PopupMenu = nullptr;
    // The application's window, brought to the foreground while the menu shows; when none
    // is set, the component's own window stands in.
    HWND OwnerWindow = nullptr;

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnRightClick;
    TMenuCommandEvent OnMenuCommand;

    // The window that receives the icon's messages.
    HWND CallbackHandle() const { return CallbackWindow.Handle(); }

    // Seam for tests: the shell call, Shell_NotifyIconA by default.
    std::function<BOOL(DWORD message, TNotifyIconData* data)> ShellNotifyIcon;

private:
    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void MouseMessage(UINT mouseMessage);
    void RightClick();
    bool Shown() const;
    void AddIcon();
    void ModifyIcon();
    void DeleteIcon();
    void FillIconData();
    void Notify(DWORD message);

    bool active_ = false;
    bool showDesigning_ = false;
    UniqueIcon icon_;
    std::string toolTip_;
    TNotifyIconData IconData{};
    UINT taskbarCreated_;
    UtilityWindow CallbackWindow;
};

} // namespace pw
