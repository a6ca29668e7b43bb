// The status window; see pwScheduleF.h. Labels are owner-drawn STATIC controls that paint their
// part of the window's gradient under their text, so they read as transparent and still keep
// their text as window text; the other controls are the system's, coloured through WM_CTLCOLOR*.
#include "pwScheduleF.h"

#include "core/Text.h"
#include "styling/ChildControl.h"
#include "styling/Gdi.h"
#include "styling/StyledText.h"

namespace pw {

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGray = RGB(128, 128, 128);
constexpr int kGradientSteps = 61;

enum class FontKind { Normal, Bold, BoldItalic };

struct LabelLayout {
    TpwSchedule::ControlId Id;
    RECT Place; // left, top, right, bottom
    const char* Text;
    FontKind Font;
    COLORREF Colour;
};

// The labels size to their text in the design; these boxes are wide enough for every text the
// window shows in them, and only Label3 has a fixed size of its own.
const LabelLayout kLabels[] = {
    {TpwSchedule::idLabel1, {16, 22, 177, 36}, "Watched Mailboxes:", FontKind::Bold, kWhite},
    {TpwSchedule::idLabel4, {181, 32, 380, 46}, "Properties:", FontKind::BoldItalic, kBlack},
    {TpwSchedule::idLabel5,
     {208, 47, 449, 61},
     "Interpret incoming RCI scripts...",
     FontKind::Normal,
     kBlack},
    {TpwSchedule::idLabel6,
     {209, 67, 449, 81},
     "Permanent connection...",
     FontKind::Normal,
     kBlack},
    {TpwSchedule::idLabel7,
     {209, 87, 449, 101},
     "Print all incoming messages...",
     FontKind::Normal,
     kBlack},
    {TpwSchedule::idLabel2, {178, 107, 380, 121}, "Countdown:", FontKind::BoldItalic, kBlack},
    {TpwSchedule::idLabel3,
     {190, 121, 449, 151},
     "  minutes till next checking event...",
     FontKind::Bold,
     kRed},
    {TpwSchedule::idLabel8, {18, 158, 346, 172}, kArrivedNone, FontKind::Bold, kWhite},
};

const LabelLayout* FindLabel(UINT id) {
    for (const LabelLayout& label : kLabels)
        if (static_cast<UINT>(label.Id) == id)
            return &label;
    return nullptr;
}

WindowSpec ScheduleWindowSpec(HWND owner) {
    WindowSpec layout;
    layout.ClassName = "TpwSchedule";
    layout.Caption = "Mail Agent Schedule";
    layout.Style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_DLGFRAME | WS_CLIPCHILDREN;
    layout.ExStyle = WS_EX_DLGMODALFRAME;
    RECT r{0, 0, TpwSchedule::kClientWidth, TpwSchedule::kClientHeight};
    AdjustWindowRectEx(&r, layout.Style, FALSE, layout.ExStyle);
    layout.Width = r.right - r.left;
    layout.Height = r.bottom - r.top;
    layout.Left = (GetSystemMetrics(SM_CXSCREEN) - layout.Width) / 2;
    layout.Top = (GetSystemMetrics(SM_CYSCREEN) - layout.Height) / 2;
    layout.Owner = owner;
    return layout;
}

RECT Place(int left, int top, int width, int height) {
    return RECT{left, top, left + width, top + height};
}

} // namespace

struct TpwSchedule::Fonts {
    UniqueGdiObject Normal = MakeFont(DialogFontFace(), -11, false, false);
    UniqueGdiObject Bold = MakeFont(DialogFontFace(), -11, true, false);
    UniqueGdiObject BoldItalic = MakeFont(DialogFontFace(), -11, true, true);
    UniqueGdiObject Caption = MakeFont(DialogFontFace(), -13, true, true);

    HFONT Of(FontKind kind) const {
        switch (kind) {
        case FontKind::Bold:
            return AsFont(Bold);
        case FontKind::BoldItalic:
            return AsFont(BoldItalic);
        default:
            return AsFont(Normal);
        }
    }
};

TpwSchedule::TpwSchedule(HWND owner)
    : fonts_(std::make_unique<Fonts>()),
      background_(AsBitmap(MakeEllipticGradient(kClientWidth, kClientHeight, kWhite, kGray,
                                                kGradientSteps)),
                  kClientWidth, kClientHeight),
      caption_(AsFont(fonts_->Caption)) {
    window_ = std::make_unique<RoutedWindow>(
        ScheduleWindowSpec(owner), [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
            return HandleMessage(msg, wParam, lParam, result);
        });
    CreateControls();
}

// The panel and the window go before the fonts and the background they use.
TpwSchedule::~TpwSchedule() {
    panel1_.reset();
    window_.reset();
}

void TpwSchedule::CreateControls() {
    const HWND parent = Handle();
    const auto keep = [this](int id, HWND control) {
        if (id >= idLabel1 && id - idLabel1 < kControls)
            controls_[id - idLabel1] = control;
    };
    for (const LabelLayout& label : kLabels)
        keep(label.Id,
             CreateChild(parent, "STATIC", label.Text, WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX, 0,
                         label.Id, label.Place, fonts_->Of(label.Font)));
    keep(idListBox1,
         CreateChild(parent, "LISTBOX", "",
                     WS_VISIBLE | WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY, WS_EX_CLIENTEDGE,
                     idListBox1, Place(16, 38, 161, 113), fonts_->Of(FontKind::Normal)));
    // Disabled and 12 pixels wide: only the boxes show, the labels beside them carry the texts.
    const int boxTops[] = {48, 67, 86};
    for (int i = 0; i < 3; ++i)
        keep(idCheckBox1 + i,
             CreateChild(parent, "BUTTON", "", WS_VISIBLE | WS_DISABLED | BS_CHECKBOX, 0,
                         idCheckBox1 + i, Place(192, boxTops[i], 12, 17),
                         fonts_->Of(FontKind::Normal)));
    const HWND combo = CreateChild(
        parent, "COMBOBOX", "", WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, WS_EX_CLIENTEDGE,
        idComboBox1, Place(220, 120, 145, 200), fonts_->Of(FontKind::Normal));
    keep(idComboBox1, combo);
    // Above Label3, whose box it overlaps.
    SetWindowPos(combo, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    panel1_ = std::make_unique<TPanel>(parent, idPanel1, Place(352, 153, 96, 21), "Close");
    panel1_->Color = kBlack;
    panel1_->FontColor = kWhite;
    panel1_->Font = fonts_->Of(FontKind::Normal);
    panel1_->SetBevelWidth(3);
    panel1_->SetBorderWidth(1);
    panel1_->OnMouseDown = [this](TPanel&) { Panel1MouseDown(); };
    panel1_->OnMouseUp = [this](TPanel&) { Panel1MouseUp(); };
    panel1_->OnClick = [this](TPanel&) { Button1Click(); };
    keep(idPanel1, panel1_->Handle());
}

bool TpwSchedule::Visible() const {
    return IsWindowVisible(Handle()) != FALSE;
}

void TpwSchedule::Show() {
    if (OnShow)
        OnShow(*this);
    ShowWindow(Handle(), SW_SHOW);
}

void TpwSchedule::Close() {
    ShowWindow(Handle(), SW_HIDE);
}

void TpwSchedule::SetControlText(ControlId id, const std::string& text) {
    const HWND control = Control(id);
    if (WindowText(control) == text)
        return;
    SetWindowTextA(control, text.c_str());
    // An owner-drawn label paints its whole box, background included: no erase needed.
    InvalidateRect(control, nullptr, FALSE);
}

std::string TpwSchedule::Label3() const {
    return WindowText(Control(idLabel3));
}

void TpwSchedule::SetLabel3(const std::string& text) {
    SetControlText(idLabel3, text);
}

std::string TpwSchedule::Label8() const {
    return WindowText(Control(idLabel8));
}

void TpwSchedule::SetLabel8(const std::string& text) {
    SetControlText(idLabel8, text);
}

void TpwSchedule::FormShow(const TpwScheduleState& state) {
    if (!IsScheduleTable(state.ScheduleType))
        SetLabel3(CountdownText(state.CheckInterval - state.MinutesElapsed));
    else
        FillScheduleTable(state);

    if (state.ArrivedCount > 0)
        SetLabel8(ArrivedText(state.ArrivedCount));

    const bool checks[] = {state.InterpretScripts, state.PermanentConnection, state.PrintIncoming};
    for (int i = 0; i < 3; ++i)
        SendMessageA(Control(static_cast<ControlId>(idCheckBox1 + i)), BM_SETCHECK,
                     checks[i] ? BST_CHECKED : BST_UNCHECKED, 0);

    const HWND list = Control(idListBox1);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const AccountRecord& record : state.Accounts.Records)
        if (!Trim(record.AccountServer.str()).empty())
            SendMessageA(list, LB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>(record.AccountAddress.str().c_str()));
}

void TpwSchedule::FillScheduleTable(const TpwScheduleState& state) {
    SetLabel3("");
    SetControlText(idLabel2, "Schedule table");
    const HWND combo = Control(idComboBox1);
    ShowWindow(combo, SW_SHOWNA);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    SetWindowTextA(combo, "");
    bool chosen = false;
    for (const std::string& entry : state.ScheduleTimes) {
        if (Trim(entry).empty() || entry[0] < '0' || entry[0] > '9')
            continue;
        SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
        // Plain byte comparison: the first entry in table order that is not earlier than now.
        if (!chosen && entry.compare(state.Now) >= 0) {
            SetWindowTextA(combo, entry.c_str());
            chosen = true;
        }
    }
}

void TpwSchedule::Button1Click() {
    Close();
}

void TpwSchedule::Panel1MouseDown() {
    panel1_->SetBevelWidth(1);
}

void TpwSchedule::Panel1MouseUp() {
    panel1_->SetBevelWidth(3);
}

bool TpwSchedule::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    // Messages of the window's creation arrive before its handle is known here.
    if (!window_ || Handle() == nullptr)
        return false;
    if (caption_.HandleMessage(Handle(), msg, wParam, lParam, result))
        return true;
    switch (msg) {
    case WM_ERASEBKGND:
        result = 1; // WM_PAINT copies the whole background in one blit
        return true;
    case WM_PAINT:
        PaintBackground();
        result = 0;
        return true;
    case WM_DRAWITEM:
        DrawLabel(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        result = TRUE;
        return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLOREDIT:
        result = reinterpret_cast<LRESULT>(
            ControlColour(msg, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
        return true;
    case WM_CLOSE: // closing only hides: the window lives as long as the program
        Close();
        result = 0;
        return true;
    default:
        return false;
    }
}

void TpwSchedule::PaintBackground() {
    const PaintScope paint(Handle());
    const RECT& area = paint.Info().rcPaint;
    background_.Paint(paint.get(), area, POINT{area.left, area.top});
}

void TpwSchedule::DrawLabel(const DRAWITEMSTRUCT& item) {
    const LabelLayout* label = FindLabel(item.CtlID);
    if (label == nullptr)
        return;
    TextStyle style;
    style.Font = fonts_->Of(label->Font);
    style.Colour = label->Colour;
    PaintLabel(item, background_, style);
}

HBRUSH TpwSchedule::ControlColour(UINT msg, HDC dc, HWND control) {
    const int id = GetDlgCtrlID(control);
    if (msg == WM_CTLCOLORSTATIC && id >= idCheckBox1 && id <= idCheckBox3) {
        // The check boxes fill themselves with the window's background, aligned to their place.
        RECT place{};
        GetWindowRect(control, &place);
        MapWindowPoints(nullptr, Handle(), reinterpret_cast<POINT*>(&place), 2);
        SetBrushOrgEx(dc, -place.left, -place.top, nullptr);
        SetBkMode(dc, TRANSPARENT);
        return background_.Brush();
    }
    // The list box, the combo box and its edit field: white on black.
    SetTextColor(dc, kWhite);
    SetBkColor(dc, kBlack);
    return static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
}

} // namespace pw
