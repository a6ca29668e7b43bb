// TProcess starts an outside program from a command line in a chosen directory and window
// state; with Wait set, a worker thread waits for the program and reports its exit code. The
// thread shares a small state block with the component, so either may outlive the other.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "core/Component.h"

namespace pw {

enum class TShowWindow {
    swHide,
    swMaximize,
    swMinimize,
    swRestore,
    swShow,
    swShowDefault,
    swShowMaximized,
    swShowMinimized,
    swShowMinNoActive,
    swShowNA,
    swShowNoActivate,
    swShowNormal
};

// The platform's show-window command for a value.
WORD ShowWindowCommand(TShowWindow value);

// Trims blanks and control characters, then drops one trailing "\" and after it one trailing
// "/". "C:\" becomes "C:", which the platform reads as that drive's current directory.
std::string NormalizeDirectory(std::string_view directory);

using TProcessEvent = std::function<void(TObject& Sender, DWORD ExitCode)>;
// The program could not be started; ErrorCode is the system error code of the attempt.
using TProcessFailedEvent = std::function<void(TObject& Sender, DWORD ErrorCode)>;

class TProcess : public TComponent {
public:
    explicit TProcess(TComponent* owner = nullptr);
    // Neither stops nor waits for a started program; an event already running on a waiting
    // thread is let finish first, and none fires after.
    ~TProcess() override;

    // Starts the program on a new, self-freeing thread and returns at once. Command,
    // ShowWindow, Wait and the events are taken as they stand at this call, so a caller may
    // set up the next start while this one runs. The component may go away before the program
    // ends: that start then fires no event.
    void Execute();

    // Each start normalises the directory and writes the result back, from its own thread.
    std::string Directory() const;
    void SetDirectory(std::string value);

    std::string Command;
    TShowWindow ShowWindow = TShowWindow::swHide;
    bool Wait = false;

    // Both run on the waiting thread, never on the caller's, with the live component as
    // Sender: its destruction waits for a running one, so a handler must not wait for the
    // thread that destroys the component. After either, WakeWaits ends the current blocking
    // round of a WaitUntil, so a handler only sets what the wait tests.
    TProcessEvent OnFinished;
    TProcessFailedEvent OnFailed;

private:
    friend class TProcessThread;
    struct State;

    std::shared_ptr<State> state_;
};

// One start of a TProcess: the body that runs on the worker thread. It holds the component's
// state block, never the component, and is freed when the thread ends.
class TProcessThread {
public:
    explicit TProcessThread(TProcess& process);
    void Execute();

private:
    // Fires event with the component as Sender while the component is still there.
    template <typename Event> void Report(const Event& event, DWORD value) const;

    std::shared_ptr<TProcess::State> state_;
    std::string command_;
    TShowWindow showWindow_;
    bool wait_;
    TProcessEvent onFinished_;
    TProcessFailedEvent onFailed_;
};

} // namespace pw
