// The message pump and the one wait helper that every nested wait of the program uses: it
// processes pending messages, re-tests its condition, and sleeps in the message wait between
// rounds instead of spinning.
#pragma once

#include <windows.h>

#include <functional>

namespace pw {

// Dispatches every message waiting in this thread's queue and returns whether there was any. A
// WM_QUIT taken from the queue marks the application as terminated instead of being dispatched.
bool ProcessMessages();

// True once a WM_QUIT has been taken from the queue by ProcessMessages or the main loop.
bool ApplicationTerminated();

// How a wait begins: by pumping, or by testing and then blocking until a message or a wake
// comes, for a caller whose condition only messages can change (the socket's waits). The
// second saves asking for messages when none can be there yet, each time a round trip to
// Wine's server; messages already queued end the block at once, so nothing waits longer.
enum class WaitStart { Pump, Block };

// Pumps and tests until done() is true. Between rounds it blocks until a message arrives or
// WakeWaits is called, so it costs nothing while nothing happens. A bound (maxSleepMs) is only
// for conditions that change without either, such as the time or another process's files.
void WaitUntil(const std::function<bool()>& done, DWORD maxSleepMs = INFINITE,
               WaitStart start = WaitStart::Pump);

// Ends the current blocking round of a WaitUntil on any thread: work finished on another thread
// calls it after setting what the wait tests. Callable from every thread.
void WakeWaits();

// Pumps for the given time (a wait that keeps the program alive); sleeps until the next message
// or the end of the time.
void WaitMilliseconds(DWORD ms);

// The program's main message loop; returns the WM_QUIT exit code.
int RunMessageLoop();

} // namespace pw
