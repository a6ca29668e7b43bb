// TProcess starts an outside program from a command line in a chosen directory and window
// state; with Wait set, a worker thread waits for the program and reports its exit code.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
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
    explicit TProcess(TComponent* owner = nullptr) : TComponent(owner) {}

    // Starts the program on a new, self-freeing thread and returns at once. Command,
    // ShowWindow, Wait and the events are taken as they stand at this call, so a caller may
    // set up the next start while this one runs. The component must outlive a start that
    // waits (its events name it as Sender).
    void Execute();

    // Each start normalises the directory and writes the result back, from its own thread.
    std::string Directory() const;
    void SetDirectory(std::string value);

    std::string Command;
    TShowWindow ShowWindow = TShowWindow::swHide;
    bool Wait = false;

    // Both run on the waiting thread, never on the caller's.
    TProcessEvent OnFinished;
    TProcessFailedEvent OnFailed;

private:
    friend class TProcessThread;
    std::string NormalizeStoredDirectory();

    mutable std::mutex directoryLock_;
    std::string directory_;
};

// One start of a TProcess: the body that runs on the worker thread. It refers to the
// component (not owned) and is freed when the thread ends.
class TProcessThread {
public:
    explicit TProcessThread(TProcess& process);
    void Execute();

    TProcess& Process;

private:
    std::string command_;
    TShowWindow showWindow_;
    bool wait_;
    TProcessEvent onFinished_;
    TProcessFailedEvent onFailed_;
};

} // namespace pw
