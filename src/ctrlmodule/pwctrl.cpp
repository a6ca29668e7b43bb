// pwctrl's program entry: shows the control-module window and runs until it is closed.
#include <windows.h>

#include "ctrlmodule/ControlModule.h"
#include "win/MessagePump.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show) {
    pw::TControlModule module;
    module.OnClose = [](pw::TControlModule&) { PostQuitMessage(0); };
    ShowWindow(module.Handle(), show);
    UpdateWindow(module.Handle());
    return pw::RunMessageLoop();
}
