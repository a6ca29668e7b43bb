// Records the socket's recv and send calls as they reach the Winsock library, through the
// shared binding's filter: how many receives, how many of them peeked, how many sends, and
// every byte sent.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <cstring>
#include <string>

#include "mail/agwsock.h"
#include "win/Binding.h"

namespace pw::test {

class WinsockCalls {
public:
    WinsockCalls() {
        receives_ = 0;
        peeks_ = 0;
        sends_ = 0;
        sent_.clear();
        SharedWinsock().SetProcFilter([](const char* name, FARPROC address) -> FARPROC {
            if (std::strcmp(name, "recv") == 0) {
                realRecv_ = address;
                return TypedProc<FARPROC>(&Recv);
            }
            if (std::strcmp(name, "send") == 0) {
                realSend_ = address;
                return TypedProc<FARPROC>(&Send);
            }
            return address;
        });
    }
    ~WinsockCalls() { SharedWinsock().SetProcFilter(nullptr); }
    WinsockCalls(const WinsockCalls&) = delete;
    WinsockCalls& operator=(const WinsockCalls&) = delete;

    int Receives() const { return receives_; }
    int Peeks() const { return peeks_; }
    // Calls that sent at least one byte.
    int Sends() const { return sends_; }
    const std::string& Sent() const { return sent_; }

private:
    using RecvFunction = int(WINAPI*)(SOCKET, char*, int, int);
    using SendFunction = int(WINAPI*)(SOCKET, const char*, int, int);

    static int WINAPI Recv(SOCKET s, char* buffer, int length, int flags) {
        ++receives_;
        if ((flags & MSG_PEEK) != 0)
            ++peeks_;
        return TypedProc<RecvFunction>(realRecv_)(s, buffer, length, flags);
    }
    static int WINAPI Send(SOCKET s, const char* buffer, int length, int flags) {
        const int result = TypedProc<SendFunction>(realSend_)(s, buffer, length, flags);
        if (result > 0) {
            ++sends_;
            sent_.append(buffer, static_cast<size_t>(result));
        }
        return result;
    }

    static inline FARPROC realRecv_ = nullptr;
    static inline FARPROC realSend_ = nullptr;
    static inline int receives_ = 0;
    static inline int peeks_ = 0;
    static inline int sends_ = 0;
    static inline std::string sent_;
};

} // namespace pw::test
