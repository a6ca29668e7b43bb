// Program launcher and its waiting thread; see process.h.
#include "process.h"

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/Text.h"
#include "win/Handles.h"
#include "win/MessagePump.h"
#include "win/Trace.h"

namespace pw {

static_assert(sizeof(STARTUPINFOA) == 68, "the start-up record is 68 bytes on i686");

WORD ShowWindowCommand(TShowWindow value) {
    // In the order of TShowWindow.
    static constexpr WORD kCommands[] = {SW_HIDE,          SW_MAXIMIZE,       SW_MINIMIZE,
                                         SW_RESTORE,       SW_SHOW,           SW_SHOWDEFAULT,
                                         SW_SHOWMAXIMIZED, SW_SHOWMINIMIZED,  SW_SHOWMINNOACTIVE,
                                         SW_SHOWNA,        SW_SHOWNOACTIVATE, SW_SHOWNORMAL};
    const auto index = static_cast<size_t>(value);
    return index < sizeof kCommands / sizeof kCommands[0] ? kCommands[index] : WORD(SW_HIDE);
}

std::string NormalizeDirectory(std::string_view directory) {
    std::string result = Trim(directory);
    if (!result.empty() && result.back() == '\\')
        result.pop_back();
    if (!result.empty() && result.back() == '/')
        result.pop_back();
    return result;
}

struct TProcess::State {
    std::mutex directoryLock;
    std::string directory;
    // Held while an event runs and while the component clears sender on its way out.
    // Recursive: a handler may destroy its own component.
    std::recursive_mutex senderLock;
    TProcess* sender = nullptr;
};

TProcess::TProcess(TComponent* owner) : TComponent(owner), state_(std::make_shared<State>()) {
    state_->sender = this;
}

TProcess::~TProcess() {
    std::lock_guard<std::recursive_mutex> lock(state_->senderLock);
    state_->sender = nullptr;
}

std::string TProcess::Directory() const {
    std::lock_guard<std::mutex> lock(state_->directoryLock);
    return state_->directory;
}

void TProcess::SetDirectory(std::string value) {
    std::lock_guard<std::mutex> lock(state_->directoryLock);
    state_->directory = std::move(value);
}

void TProcess::Execute() {
    std::thread([start = std::make_unique<TProcessThread>(*this)] { start->Execute(); }).detach();
}

TProcessThread::TProcessThread(TProcess& process)
    : state_(process.state_), command_(process.Command), showWindow_(process.ShowWindow),
      wait_(process.Wait), onFinished_(process.OnFinished), onFailed_(process.OnFailed) {}

template <typename Event> void TProcessThread::Report(const Event& event, DWORD value) const {
    {
        std::lock_guard<std::recursive_mutex> lock(state_->senderLock);
        if (state_->sender != nullptr)
            Fire(event, *state_->sender, value);
    }
    // Whatever the handler set, a wait on the component's thread sees it now, not at its next
    // message.
    WakeWaits();
}

void TProcessThread::Execute() {
    // An exception escaping a thread ends the process; a handler's failure must not.
    try {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = ShowWindowCommand(showWindow_);
        DWORD exitCode = 0;

        std::string directory;
        {
            std::lock_guard<std::mutex> lock(state_->directoryLock);
            state_->directory = NormalizeDirectory(state_->directory);
            directory = state_->directory;
        }

        // CreateProcessA may write into the command line, so it gets a copy of its own.
        std::vector<char> commandLine(command_.begin(), command_.end());
        commandLine.push_back('\0');
        PROCESS_INFORMATION info{};
        if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                            NORMAL_PRIORITY_CLASS, nullptr,
                            directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
            const DWORD error = GetLastError();
            Trace("program start failed (" + std::to_string(error) + "): " + command_);
            Report(onFailed_, error);
            return;
        }
        const UniqueKernelHandle process(info.hProcess);
        const UniqueKernelHandle thread(info.hThread);
        Trace("program started: " + command_);
        if (!wait_)
            return;
        WaitForSingleObject(process.get(), INFINITE);
        if (!GetExitCodeProcess(process.get(), &exitCode))
            exitCode = 0;
        Trace("program ended with " + std::to_string(exitCode) + ": " + command_);
        Report(onFinished_, exitCode);
    } catch (...) {
        TraceCaughtCurrent("launcher thread");
    }
}

} // namespace pw
