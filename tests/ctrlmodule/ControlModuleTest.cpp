// The control-module window as its user meets it: its caption and lines, the hidden field, and
// the "Close!" button that ends it.
#include "ctrlmodule/ControlModule.h"

#include <gtest/gtest.h>

#include "styling/StyledText.h"

namespace pw {
namespace {

TEST(ControlModule, ShowsItsLinesAndKeepsTheMarkInAHiddenField) {
    TControlModule module;
    ShowWindow(module.Handle(), SW_SHOW);
    EXPECT_EQ(WindowText(module.Handle()), "Postwises Control Module!");
    EXPECT_EQ(WindowText(module.Control(TControlModule::idLabel1)), "Postwises Controller");
    EXPECT_EQ(WindowText(module.Control(TControlModule::idLabel2)),
              "This module is run from within Postwise only!");
    EXPECT_EQ(WindowText(module.Control(TControlModule::idButton1)), "Close!");
    const HWND field = module.Control(TControlModule::idEdit1);
    EXPECT_EQ(WindowText(field), "PWCTRL-1.0");
    EXPECT_FALSE(IsWindowVisible(field));
    EXPECT_EQ(GetWindowLongA(module.Handle(), GWL_STYLE) & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
}

TEST(ControlModule, CloseButtonAndCaptionCloseBoxEndIt) {
    TControlModule module;
    int closed = 0;
    module.OnClose = [&](TControlModule&) { ++closed; };
    ShowWindow(module.Handle(), SW_SHOW);
    SendMessageA(module.Control(TControlModule::idButton1), BM_CLICK, 0, 0);
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(IsWindowVisible(module.Handle()));

    ShowWindow(module.Handle(), SW_SHOW);
    SendMessageA(module.Handle(), WM_CLOSE, 0, 0);
    EXPECT_EQ(closed, 2);
}

} // namespace
} // namespace pw
