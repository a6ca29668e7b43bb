// pwagent's program entry: the application object, the hidden main window (which starts the
// agent), the status window, then the message loop.
#include <windows.h>

#include <cstdlib>

#include "agent/PWiseF.h"
#include "agent/pwScheduleF.h"
#include "win/MessagePump.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::vector<std::string> args(__argv, __argv + __argc);
    pw::TApplication application("Vantiro's Automation Agent");
    pw::TPlaceHolder placeHolder(application, pw::AgentEnvironment::System(std::move(args)));
    pw::TpwSchedule schedule(application.Handle());
    placeHolder.SetStatusWindow(&schedule);
    schedule.OnShow = [&](pw::TpwSchedule& window) { placeHolder.FillStatusWindow(window); };
    ShowWindow(placeHolder.FormHandle(), SW_SHOWNOACTIVATE);
    const int code = pw::RunMessageLoop();
    placeHolder.EndProgram();
    return code;
}
