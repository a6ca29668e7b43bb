// The stand-in client's main window, class "TCXCmainForm": the window the agent looks for to
// know that the client runs. It shows a status line and ends the message loop when destroyed.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "win/Handles.h"

namespace pw {

class StandInLog;

class TCXCmainForm {
public:
    static constexpr const char* kClassName = "TCXCmainForm";
    static constexpr const char* kCaption = "CXsystem stand-in";

    TCXCmainForm(HINSTANCE instance, StandInLog& log);
    TCXCmainForm(const TCXCmainForm&) = delete;
    TCXCmainForm& operator=(const TCXCmainForm&) = delete;
    ~TCXCmainForm() = default;

    HWND Handle() const { return window_.get(); }
    void Show(int showCommand);
    void SetStatus(std::string text);
    // Closes the window as if the user had, now (from the queue) or after ms milliseconds.
    void Close();
    void CloseAfter(unsigned ms);

    // May be called from any thread: fires OnRetrievalDone on the window's thread.
    void PostRetrievalDone(int count);
    std::function<void(TCXCmainForm& sender, int count)> OnRetrievalDone;

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void FormPaint();
    void FormClose();
    void FormDestroy();
    void ExitTimerTimer();

    static constexpr UINT kRetrievalDoneMessage = WM_APP + 1;
    static constexpr UINT_PTR kExitTimerId = 1;

    StandInLog& log_;
    std::string status_;
    HWND hwnd_ = nullptr;       // valid from WM_NCCREATE until WM_NCDESTROY
    HWND postTarget_ = nullptr; // never changes after construction: read by other threads
    UniqueWindow window_;
};

} // namespace pw
