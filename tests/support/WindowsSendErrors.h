// Makes the process's Winsock binding answer a failed send as Windows does. On a connection
// that is gone Windows says WSAENOTCONN (10057), where Wine happens to say WSAECONNRESET (10054),
// which the socket takes as a reason to close by itself: tests that only ran under Wine would
// never see a dead socket left open. Works through the binding's filter, so the socket's own
// calls are the ones affected.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <cstring>

#include "mail/agwsock.h"
#include "win/Binding.h"

namespace pw::test {

class WindowsSendErrors {
public:
    enum class Mode {
        EverySendFails,    // as on a socket that is no longer connected
        FailuresAsWindows, // real sends; a failed one reports WSAENOTCONN
    };

    explicit WindowsSendErrors(Mode mode) {
        mode_ = mode;
        SharedWinsock().SetProcFilter([](const char* name, FARPROC address) -> FARPROC {
            if (std::strcmp(name, "send") == 0) {
                realSend_ = address;
                return TypedProc<FARPROC>(&Send);
            }
            if (std::strcmp(name, "WSAGetLastError") == 0 && failed_)
                return TypedProc<FARPROC>(&NotConnected);
            return address;
        });
    }
    ~WindowsSendErrors() {
        SharedWinsock().SetProcFilter(nullptr);
        failed_ = false;
    }
    WindowsSendErrors(const WindowsSendErrors&) = delete;
    WindowsSendErrors& operator=(const WindowsSendErrors&) = delete;

private:
    using SendFunction = int(WINAPI*)(SOCKET, const char*, int, int);

    static int WINAPI Send(SOCKET s, const char* buffer, int length, int flags) {
        int result = SOCKET_ERROR;
        if (mode_ == Mode::FailuresAsWindows) {
            result = TypedProc<SendFunction>(realSend_)(s, buffer, length, flags);
        }
        // Only the error of this send is rewritten; the next successful call clears it.
        failed_ = result == SOCKET_ERROR;
        return result;
    }
    static int WINAPI NotConnected() { return WSAENOTCONN; }

    static inline Mode mode_ = Mode::EverySendFails;
    static inline FARPROC realSend_ = nullptr;
    static inline bool failed_ = false;
};

} // namespace pw::test
