// The control-module window; see ControlModule.h.
#include "ControlModule.h"

#include "core/Component.h"
#include "styling/ChildControl.h"
#include "styling/StyledText.h"

namespace pw {

namespace {

constexpr COLORREF kCentre = RGB(120, 160, 210);
constexpr COLORREF kEdge = RGB(20, 40, 90);
constexpr int kGradientSteps = 61;

WindowSpec ControlModuleSpec() {
    WindowSpec layout;
    layout.ClassName = "TControlModule";
    layout.Caption = "Postwises Control Module!";
    // Fixed size: no sizing frame, no maximise box.
    layout.Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    layout.ExStyle = 0;
    RECT r{0, 0, TControlModule::kClientWidth, TControlModule::kClientHeight};
    AdjustWindowRectEx(&r, layout.Style, FALSE, layout.ExStyle);
    layout.Width = r.right - r.left;
    layout.Height = r.bottom - r.top;
    layout.Left = (GetSystemMetrics(SM_CXSCREEN) - layout.Width) / 2;
    layout.Top = (GetSystemMetrics(SM_CYSCREEN) - layout.Height) / 2;
    return layout;
}

} // namespace

TControlModule::TControlModule()
    : titleFont_(MakeFont(ChooseFontFace({"Arial", "Tahoma", "Liberation Sans", "DejaVu Sans"}),
                          -24, true, true)),
      lineFont_(MakeFont(DialogFontFace(), -13, true, false)),
      buttonFont_(MakeFont(DialogFontFace(), -11, false, false)),
      background_(AsBitmap(MakeEllipticGradient(kClientWidth, kClientHeight, kCentre, kEdge,
                                                kGradientSteps)),
                  kClientWidth, kClientHeight) {
    window_ = std::make_unique<RoutedWindow>(
        ControlModuleSpec(), [this](UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
            return HandleMessage(msg, wParam, lParam, result);
        });
    CreateControls();
}

TControlModule::~TControlModule() {
    window_.reset(); // before the fonts and the background it uses
}

void TControlModule::CreateControls() {
    const HWND parent = Handle();
    CreateChild(parent, "STATIC", "Postwises Controller", WS_VISIBLE | SS_OWNERDRAW, 0, idLabel1,
                RECT{10, 22, kClientWidth - 10, 56}, AsFont(titleFont_));
    CreateChild(parent, "STATIC", "This module is run from within Postwise only!",
                WS_VISIBLE | SS_OWNERDRAW, 0, idLabel2, RECT{10, 66, kClientWidth - 10, 86},
                AsFont(lineFont_));
    CreateChild(parent, "BUTTON", "Close!", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0,
                idButton1, RECT{kClientWidth - 96, 110, kClientWidth - 16, 134},
                AsFont(buttonFont_));
    // Never shown: it only carries the module's mark for whoever looks for it.
    CreateChild(parent, "EDIT", kMark, ES_AUTOHSCROLL | ES_READONLY, 0, idEdit1,
                RECT{16, 110, 136, 131}, AsFont(buttonFont_));
}

void TControlModule::Button1Click() {
    ShowWindow(Handle(), SW_HIDE);
    Fire(OnClose, *this);
}

bool TControlModule::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    if (!window_ || Handle() == nullptr)
        return false;
    result = 0;
    switch (msg) {
    case WM_ERASEBKGND:
        result = 1; // WM_PAINT copies the whole background in one blit
        return true;
    case WM_PAINT:
        Paint();
        return true;
    case WM_DRAWITEM: {
        const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        TextStyle style;
        style.Font = item.CtlID == idLabel1 ? AsFont(titleFont_) : AsFont(lineFont_);
        style.Colour = item.CtlID == idLabel1 ? RGB(255, 255, 255) : RGB(230, 236, 245);
        style.Format = DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
        style.Raised = true;
        style.Light = RGB(200, 220, 255);
        style.Dark = RGB(0, 0, 40);
        PaintLabel(item, background_, style);
        result = TRUE;
        return true;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == idButton1 && HIWORD(wParam) == BN_CLICKED) {
            Button1Click();
            return true;
        }
        return false;
    case WM_CLOSE:
        Button1Click();
        return true;
    default:
        return false;
    }
}

void TControlModule::Paint() {
    const PaintScope paint(Handle());
    const RECT& area = paint.Info().rcPaint;
    background_.Paint(paint.get(), area, POINT{area.left, area.top});
}

} // namespace pw
