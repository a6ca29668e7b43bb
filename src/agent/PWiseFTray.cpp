// What the user sees of the check cycle: the tray picture (busy animation or resting icon), the
// tool tip, the menu items and the minute tick, all set from the cycle by ShowCheckState; the
// ten-second watch; the status window's two lines that the cycle writes; see PWiseF.h.
#include "PWiseF.h"

#include "agent/Settings.h"
#include "win/Trace.h"

namespace pw {

void TPlaceHolder::ShowCheckState(CheckEnd ended) {
    const bool walking = cycle_.Walking();
    if (walking && !Timer2.Enabled()) {
        StartBusyAnimation();
    } else if (!walking && Timer2.Enabled()) {
        Timer2.SetEnabled(false);
        ShowRestingIcon();
    }
    const bool menu = MenuItemsEnabled();
    for (MenuCommand item : {kCheckNow1, kStatus1})
        ::EnableMenuItem(PopupMenu1.get(), item, MF_BYCOMMAND | (menu ? MF_ENABLED : MF_GRAYED));
    // Off from the moment a check is due until it and its retrieval have ended, and while the
    // client holds checking. Ticks are measured from the moment it runs again.
    const bool tick = started_ && cycle_.Due() == CheckCycle::DuePhase::None && !cycle_.TickHeld();
    if (tick && !ExeTimer.Enabled())
        cycle_.Wake().TickStarted(Environment.Monotonic(), LocalMinute());
    ExeTimer.SetEnabled(tick);
    if (!walking && cycle_.HasAlerts())
        ShowAlerts();
    // The client's check leaves its last progress text standing.
    if (ended == CheckEnd::DueCheck)
        SetToolTip(ArrivedCount > 0 ? kTipRetrieved : kTipIdle);
}

bool TPlaceHolder::MenuItemsEnabled() const {
    const CheckCycle::DuePhase due = cycle_.Due();
    return !statusWindowOpen_ && due != CheckCycle::DuePhase::Walking &&
           due != CheckCycle::DuePhase::ClientProgram;
}

bool TPlaceHolder::Probe::MenuEnabled(MenuCommand item) const {
    return (GetMenuState(agent_.PopupMenu1.get(), item, MF_BYCOMMAND) &
            (MF_DISABLED | MF_GRAYED)) == 0;
}

void TPlaceHolder::ShowAlert(const std::optional<std::string>& text) {
    if (!text)
        return;
    Trace("alert: " + *text);
    if (AgentIni.Balloons)
        TrayIcon1.ShowBalloon(std::string(kAlertTitle), *text);
}

void TPlaceHolder::QueueAlert(const std::string& text, MailboxAlert alert) {
    Trace("alert: " + text);
    if (AgentIni.Balloons)
        cycle_.AddAlert(std::move(alert));
}

void TPlaceHolder::ShowAlerts() {
    const std::string text = BalloonText(cycle_.TakeAlerts());
    TrayIcon1.ShowBalloon(std::string(kAlertTitle), text);
}

void TPlaceHolder::StartBusyAnimation() {
    AnimationFrame = 0;
    Timer2.SetEnabled(true);
}

void TPlaceHolder::Timer2Timer() {
    SetTrayIcon(Image(kImageBusyFirst + AnimationFrame));
    AnimationFrame += 1;
    if (AnimationFrame >= kBusyFrames)
        AnimationFrame = 0;
}

void TPlaceHolder::FinishCheck() {
    ShowCheckState();
    Timer1Timer();
}

void TPlaceHolder::ShowRestingIcon() {
    if (BackgroundMode)
        SetTrayIcon(ArrivedCount <= 0 ? Image(kImageBackgroundIdle) : Image(kImageBackground));
    else
        SetTrayIcon(ArrivedCount <= 0 ? Application.Icon() : Image(kImageRetrieved));
}

void TPlaceHolder::Timer1Timer() {
    ShowRestingIcon();
    if (!BackgroundMode && !FileExists(ProgramDir + "PWise.flg")) {
        Trace("flag file gone");
        FormClose();
    }
}

void TPlaceHolder::SetToolTip(const std::string& text) {
    if (text != TrayIcon1.ToolTip())
        Trace("tool tip: " + text);
    TrayIcon1.SetToolTip(text);
}

void TPlaceHolder::SetTrayIcon(HICON icon) {
    for (int i = 0; i < kImageCount; ++i)
        if (Images[i].get() == icon && i + 1 != trayImage_) {
            trayImage_ = i + 1;
            Trace("tray icon: Image" + std::to_string(trayImage_));
        }
    TrayIcon1.SetIcon(icon);
}

void TPlaceHolder::SetLabel3(const std::string& text) {
    if (Schedule != nullptr)
        Schedule->SetLabel3(text);
}

void TPlaceHolder::SetLabel8(const std::string& text) {
    if (Schedule != nullptr)
        Schedule->SetLabel8(text);
}

void TPlaceHolder::RefreshCountdownLabel() {
    SetLabel3(CountdownText(CheckInterval - MinutesElapsed));
}

} // namespace pw
