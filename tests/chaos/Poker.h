// A second thread that does to the agent what the shell and the mail client may do at any
// moment: send its tray icon a mouse message and poke "CLOSE" at its DDE item. Each must be
// answered while the agent waits for a server; the thread reports how long that took.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "win/Handles.h"

namespace pw::chaos {

class Poker {
public:
    // service: the agent's DDE service name.
    explicit Poker(std::string service);
    ~Poker();
    Poker(const Poker&) = delete;
    Poker& operator=(const Poker&) = delete;

    // Starts both, without waiting; trayWindow: the tray icon's callback window.
    void Poke(HWND trayWindow);
    bool Busy() const { return busy_.load(); }
    // After the poke: whether each was answered within the bound, and what was wrong.
    bool Answered() const { return answered_.load(); }
    const std::string& Problem() const { return problem_; }
    long Pokes() const { return pokes_; }

    static constexpr DWORD kAnswerBoundMs = 60000;

private:
    void Run();

    std::string service_;
    UniqueKernelHandle request_;
    std::atomic<HWND> tray_{nullptr};
    std::atomic<bool> busy_{false};
    std::atomic<bool> answered_{true};
    std::atomic<bool> stop_{false};
    std::string problem_; // written by the thread while busy, read after
    long pokes_ = 0;
    std::thread thread_;
};

} // namespace pw::chaos
