// The status window "Mail Agent Schedule": read-only view of the watched mailboxes, three
// settings, the countdown or the schedule table, and the arrived-messages line. The check cycle
// writes Label3 and Label8 whether or not the window is visible.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/AccountsFile.h"
#include "core/AgentTexts.h"
#include "core/Schedule.h"
#include "styling/Background.h"
#include "styling/BevelPanel.h"
#include "styling/PaintedCaption.h"
#include "win/UtilityWindow.h"

namespace pw {

// What the window shows of the agent, taken when it opens.
struct TpwScheduleState {
    std::string ScheduleType; // "2": schedule table, else countdown
    ScheduleTable ScheduleTimes;
    int32_t CheckInterval = 0;
    int32_t MinutesElapsed = 0;
    int32_t ArrivedCount = 0;
    bool InterpretScripts = false;
    bool PermanentConnection = false;
    bool PrintIncoming = false;
    std::string Now; // time of day "hh:nn" with the system's time separator
    AccountTable Accounts;
};

class TpwSchedule {
public:
    // Child control identifiers; GetDlgItem(Handle(), id) finds a control.
    enum ControlId : int {
        idLabel1 = 101,
        idLabel2,
        idLabel3,
        idLabel4,
        idLabel5,
        idLabel6,
        idLabel7,
        idLabel8,
        idListBox1,
        idComboBox1,
        idCheckBox1,
        idCheckBox2,
        idCheckBox3,
        idPanel1
    };
    static constexpr int kClientWidth = 453;
    static constexpr int kClientHeight = 178;

    explicit TpwSchedule(HWND owner);
    TpwSchedule(const TpwSchedule&) = delete;
    TpwSchedule& operator=(const TpwSchedule&) = delete;
    ~TpwSchedule();

    bool Visible() const;
    // Fires OnShow (which fills the window through FormShow), then shows the window.
    void Show();
    // Hides the window; it lives as long as the program.
    void Close();
    HWND Handle() const { return window_->Handle(); }
    // Kept from creation: looking a control up by its id asks Wine's server each time.
    HWND Control(ControlId id) const {
        const int slot = id - idLabel1;
        return slot >= 0 && slot < kControls ? controls_[slot] : nullptr;
    }

    // Label3: the countdown or progress line ("n minutes till next checking event...").
    std::string Label3() const;
    void SetLabel3(const std::string& text);
    // Label8: the new-messages line ("[ n new messages currently arrived... ]").
    std::string Label8() const;
    void SetLabel8(const std::string& text);

    // Handlers.
    void FormShow(const TpwScheduleState& state);
    void Button1Click();
    void Panel1MouseDown();
    void Panel1MouseUp();

    TPanel& Panel1() { return *panel1_; }

    std::function<void(TpwSchedule&)> OnShow;

private:
    struct Fonts;

    bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void CreateControls();
    void SetControlText(ControlId id, const std::string& text);
    void FillScheduleTable(const TpwScheduleState& state);
    void DrawLabel(const DRAWITEMSTRUCT& item);
    HBRUSH ControlColour(UINT msg, HDC dc, HWND control);
    void PaintBackground();

    std::unique_ptr<Fonts> fonts_;
    TTiledBackground background_;
    TPaintedCaption caption_;
    std::unique_ptr<RoutedWindow> window_;
    std::unique_ptr<TPanel> panel1_;
    static constexpr int kControls = idPanel1 - idLabel1 + 1;
    HWND controls_[kControls] = {};
};

} // namespace pw
