// Tray icon; see TrayIcon.h. The shell sends the icon's mouse messages to a hidden window of
// the component; Explorer's "TaskbarCreated" broadcast brings a shown icon back after a
// restart of the shell, in the size the notification area then shows.
#include "TrayIcon.h"

#include <shellapi.h>

#include <cstddef>
#include <cstring>

#include "win/Binding.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

static_assert(TTrayIcon::kIconRecordSize == NOTIFYICONDATAA_V1_SIZE &&
                  offsetof(TNotifyIconData, szTip) + 64 == NOTIFYICONDATAA_V1_SIZE,
              "the icon's record is the first, 88-byte form");
static_assert(TTrayIcon::kBalloonRecordSize == NOTIFYICONDATAA_V2_SIZE &&
                  sizeof(TNotifyIconData) == NOTIFYICONDATAA_V2_SIZE,
              "a balloon's record is the second form");
static_assert(sizeof(TNotifyIconData) <= sizeof(NOTIFYICONDATAA), "fits the shell's record");
static_assert(offsetof(TNotifyIconData, hIcon) == offsetof(NOTIFYICONDATAA, hIcon) &&
                  offsetof(TNotifyIconData, szTip) == offsetof(NOTIFYICONDATAA, szTip) &&
                  offsetof(TNotifyIconData, szInfo) == offsetof(NOTIFYICONDATAA, szInfo) &&
                  offsetof(TNotifyIconData, szInfoTitle) ==
                      offsetof(NOTIFYICONDATAA, szInfoTitle) &&
                  offsetof(TNotifyIconData, dwInfoFlags) == offsetof(NOTIFYICONDATAA, dwInfoFlags),
              "same layout as the shell's record");

namespace {
// Copies at most N - 1 bytes and always terminates.
template <size_t N> void CopyTerminated(CHAR (&target)[N], const std::string& value) {
    const size_t size = value.size() < N - 1 ? value.size() : N - 1;
    std::memcpy(target, value.data(), size);
    target[size] = '\0';
}

// Windows 7 is version 6.1. RtlGetVersion tells the truth whatever the program's manifest says.
bool WindowsSevenOrLater() {
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto getVersion =
        LookUpFunction<RtlGetVersionFn>(GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (getVersion == nullptr || getVersion(&info) != 0)
        return false;
    return info.dwMajorVersion > 6 || (info.dwMajorVersion == 6 && info.dwMinorVersion >= 1);
}

BOOL ShellNotifyIconA(DWORD message, TNotifyIconData* data) {
    // The shell reads only cbSize bytes; the larger record is just the declared type.
    NOTIFYICONDATAA full{};
    std::memcpy(&full, data, sizeof *data);
    return Shell_NotifyIconA(message, &full);
}
} // namespace

TTrayIcon::TTrayIcon(TComponent* owner)
    : TComponent(owner), RespectQuietTime(WindowsSevenOrLater()),
      ShellNotifyIcon(&ShellNotifyIconA), taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")),
      // Top-level: the shell broadcasts "TaskbarCreated" when it restarts.
      CallbackWindow(UtilityWindow::Kind::TopLevel,
                     [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT&) {
                         return HandleMessage(msg, wParam, lParam);
                     }),
      displayWatcher_([this] {
          if (FollowIconSize())
              ModifyIcon(NIF_ICON);
      }) {
    if (owner != nullptr && owner->Designing())
        SetDesigning(true);
    FollowIconSize();
}

TTrayIcon::~TTrayIcon() {
    if (Shown())
        DeleteIcon();
}

void TTrayIcon::SetActive(bool value) {
    if (value == active_)
        return;
    active_ = value;
    if (Designing())
        return;
    if (value)
        AddIcon();
    else
        DeleteIcon();
}

void TTrayIcon::SetShowDesigning(bool value) {
    if (!Designing() || value == showDesigning_)
        return;
    showDesigning_ = value;
    if (value)
        AddIcon();
    else
        DeleteIcon();
}

void TTrayIcon::SetIcon(HICON value) {
    if (value == source_)
        return;
    source_ = value;
    icon_ = value != nullptr ? CopyOf(value) : nullptr;
    ModifyIcon(NIF_ICON);
}

void TTrayIcon::SetIconResource(HICON picture, HINSTANCE module, WORD resource) {
    resources_.push_back(IconResource{picture, module, resource});
}

HICON TTrayIcon::CopyOf(HICON picture) {
    for (const auto& copy : copies_)
        if (copy.first == picture)
            return copy.second.get();
    // The oldest copy goes: the shell keeps a picture of its own for what it shows.
    if (copies_.size() >= kMaxCopies)
        copies_.erase(copies_.begin());
    UniqueIcon copy;
    for (const auto& source : resources_)
        if (source.picture == picture) {
            copy.reset(
                static_cast<HICON>(LoadImageA(source.module, MAKEINTRESOURCEA(source.resource),
                                              IMAGE_ICON, iconSize_, iconSize_, 0)));
            break;
        }
    if (!copy)
        copy.reset(CopyIcon(picture));
    copies_.emplace_back(picture, std::move(copy));
    return copies_.back().second.get();
}

bool TTrayIcon::FollowIconSize() {
    const int size = NotificationIconSize(Dpi);
    if (size == iconSize_)
        return false;
    iconSize_ = size;
    Trace("tray picture size: " + std::to_string(size) + " pixels");
    copies_.clear();
    icon_ = source_ != nullptr ? CopyOf(source_) : nullptr;
    return icon_ != nullptr;
}

void TTrayIcon::SetToolTip(const std::string& value) {
    std::string tip = value.substr(0, kMaxToolTip);
    if (tip == toolTip_)
        return;
    toolTip_ = std::move(tip);
    ModifyIcon(NIF_TIP);
}

bool TTrayIcon::Shown() const {
    return Designing() ? showDesigning_ : active_;
}

void TTrayIcon::FillIconData() {
    IconData = TNotifyIconData{};
    IconData.cbSize = kIconRecordSize;
    IconData.hWnd = CallbackHandle();
    IconData.uID = 0;
    IconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    IconData.uCallbackMessage = kCallbackMessage;
    IconData.hIcon = icon_;
    std::memcpy(IconData.szTip, toolTip_.data(), toolTip_.size()); // at most 62 of 64 bytes
}

bool TTrayIcon::ShowBalloon(const std::string& title, const std::string& text) {
    if (!Shown())
        return false;
    // A record of its own: the icon's record stays as last filled for its removal, and
    // NIF_INFO alone leaves icon and tool tip as they are.
    TNotifyIconData balloon{};
    balloon.cbSize = kBalloonRecordSize;
    balloon.hWnd = CallbackHandle();
    balloon.uID = 0;
    balloon.uFlags = NIF_INFO;
    balloon.uTimeout = kBalloonTimeoutMs;
    balloon.dwInfoFlags = NIIF_WARNING | NIIF_NOSOUND | (RespectQuietTime ? kRespectQuietTime : 0);
    CopyTerminated(balloon.szInfoTitle, title);
    CopyTerminated(balloon.szInfo, text);
    Trace(std::string("tray balloon: \"") + balloon.szInfo + "\"");
    return ShellNotifyIcon && ShellNotifyIcon(NIM_MODIFY, &balloon) != FALSE;
}

void TTrayIcon::Notify(DWORD message) {
    // Modifications are too frequent to be worth a line; their owner traces what changed.
    if (message != NIM_MODIFY)
        Trace(std::string("tray ") + (message == NIM_ADD ? "add" : "delete") + ": \"" +
              IconData.szTip + "\"");
    if (ShellNotifyIcon)
        ShellNotifyIcon(message, &IconData);
}

void TTrayIcon::AddIcon() {
    FillIconData();
    Notify(NIM_ADD);
    // The version is the shell's for this icon: set again with every add. It needs the longer
    // record, whose version field is the balloon's time-out.
    TNotifyIconData version{};
    version.cbSize = kBalloonRecordSize;
    version.hWnd = CallbackHandle();
    version.uID = 0;
    version.uTimeout = kNotifyVersion;
    if (ShellNotifyIcon)
        ShellNotifyIcon(NIM_SETVERSION, &version);
    // An icon loaded with its form reaches the shell only through this refresh.
    if (toolTip_.empty())
        PostMessageA(CallbackHandle(), kRefreshMessage, 0, 0);
}

void TTrayIcon::ModifyIcon(UINT flags) {
    if (!active_)
        return;
    // The shell takes only the fields named; the others stay as it has them. Under Wine every
    // icon sent is serialised and passed to the tray's process, so a tool tip's change does not
    // send the icon along.
    FillIconData();
    IconData.uFlags = flags;
    Notify(NIM_MODIFY);
}

void TTrayIcon::DeleteIcon() {
    Notify(NIM_DELETE);
}

bool TTrayIcon::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == kRefreshMessage) {
        ModifyIcon(NIF_MESSAGE | NIF_ICON | NIF_TIP);
        return true;
    }
    if (msg == kCallbackMessage) {
        MouseMessage(static_cast<UINT>(lParam));
        return true;
    }
    if (msg == WM_COMMAND && HIWORD(wParam) == 0 && lParam == 0) {
        Fire(OnMenuCommand, *this, static_cast<UINT>(LOWORD(wParam)));
        return true;
    }
    if (msg == taskbarCreated_ && taskbarCreated_ != 0) {
        // A new shell may sit on a display of another scale.
        FollowIconSize();
        if (Shown())
            AddIcon();
        return true;
    }
    return false;
}

void TTrayIcon::MouseMessage(UINT mouseMessage) {
    switch (mouseMessage) {
    case WM_LBUTTONUP:
        Fire(OnClick, *this);
        break;
    case WM_LBUTTONDBLCLK:
        Fire(OnDblClick, *this);
        break;
    case WM_RBUTTONUP:
    case WM_CONTEXTMENU: // the keyboard's menu key or Shift+F10 on the icon
        RightClick();
        break;
    case NIN_KEYSELECT: // Enter or Space on the icon: its default action
        Fire(OnDblClick, *this);
        break;
    case NIN_BALLOONUSERCLICK:
        Fire(OnBalloonClick, *this);
        break;
    default:
        break;
    }
}

void TTrayIcon::RightClick() {
    POINT cursor{};
    GetCursorPos(&cursor);
    if (PopupMenu != nullptr) {
        // Without the foreground the menu would not close when the user clicks elsewhere;
        // the null message after it lets a second right click open the menu again.
        const HWND owner = OwnerWindow != nullptr ? OwnerWindow : CallbackHandle();
        SetForegroundWindow(owner);
        ProcessMessages();
        const UINT command = static_cast<UINT>(TrackPopupMenu(
            PopupMenu, TPM_RIGHTBUTTON | TPM_RETURNCMD, cursor.x, cursor.y, 0, owner, nullptr));
        PostMessageA(owner, WM_NULL, 0, 0);
        // The command is handled from the queue, after the right click is over.
        if (command != 0)
            PostMessageA(CallbackHandle(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
    }
    Fire(OnRightClick, *this, mbRight, TShiftState(0), static_cast<int>(cursor.x),
         static_cast<int>(cursor.y));
}

} // namespace pw
