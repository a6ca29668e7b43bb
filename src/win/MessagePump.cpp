// Message pump and waits; see MessagePump.h.
#include "MessagePump.h"

#include "win/Handles.h"

namespace pw {

namespace {
bool terminated = false;
int exitCode = 0;

// Auto-reset: a wake that comes while no wait blocks ends the next blocking round at once, so
// none is lost between a wait's test and its sleep.
HANDLE WakeEvent() {
    static const UniqueKernelHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    return event.get();
}

// Blocks until a message arrives, a wake comes or timeoutMs passes.
void BlockRound(DWORD timeoutMs) {
    HANDLE wake = WakeEvent();
    // MWMO_INPUTAVAILABLE: also wake for input that is in the queue but was already seen.
    MsgWaitForMultipleObjectsEx(wake != nullptr ? 1 : 0, &wake, timeoutMs, QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
}
} // namespace

bool ProcessMessages() {
    MSG msg;
    bool any = false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        any = true;
        if (msg.message == WM_QUIT) {
            terminated = true;
            exitCode = static_cast<int>(msg.wParam);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return any;
}

bool ApplicationTerminated() {
    return terminated;
}

void WaitUntil(const std::function<bool()>& done, DWORD maxSleepMs, WaitStart start) {
    if (start == WaitStart::Block) {
        if (done())
            return;
        BlockRound(maxSleepMs);
    }
    for (;;) {
        ProcessMessages();
        if (done())
            return;
        BlockRound(maxSleepMs);
    }
}

void WakeWaits() {
    SetEvent(WakeEvent());
}

void WaitMilliseconds(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        ProcessMessages();
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms)
            return;
        BlockRound(ms - elapsed);
    }
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
