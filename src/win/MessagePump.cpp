// Message pump and waits; see MessagePump.h.
#include "MessagePump.h"

namespace pw {

namespace {
bool terminated = false;
int exitCode = 0;
} // namespace

void ProcessMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            terminated = true;
            exitCode = static_cast<int>(msg.wParam);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool ApplicationTerminated() {
    return terminated;
}

void WaitUntil(const std::function<bool()>& done, DWORD maxSleepMs) {
    for (;;) {
        ProcessMessages();
        if (done())
            return;
        // MWMO_INPUTAVAILABLE: also wake for input that is in the queue but was already seen.
        MsgWaitForMultipleObjectsEx(0, nullptr, maxSleepMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

void WaitMilliseconds(DWORD ms) {
    const DWORD start = GetTickCount();
    WaitUntil([&] { return GetTickCount() - start >= ms; }, ms < 50 ? (ms == 0 ? 1 : ms) : 50);
}

int RunMessageLoop() {
    MSG msg;
    while (!terminated) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            terminated = true;
            exitCode = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1)
            break;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return exitCode;
}

} // namespace pw
