// The Winsock side of the fault-injection run, through the shared binding's filter: the calls
// the socket makes fail with their documented codes, succeed in part or say "not yet", and the
// notices Windows sends (FD_CONNECT, FD_READ, FD_CLOSE, a lookup's answer) pass through a relay
// window of this program that may hold one back, send it twice or give it an error.
#pragma once

#include <windows.h>
#include <winsock.h>

#include <map>
#include <set>

#include "FaultPlan.h"
#include "win/UtilityWindow.h"

namespace pw::chaos {

class WinsockFaults {
public:
    WinsockFaults();
    ~WinsockFaults();
    WinsockFaults(const WinsockFaults&) = delete;
    WinsockFaults& operator=(const WinsockFaults&) = delete;

    // Sockets the socket component opened and has not closed.
    size_t OpenSockets() const { return live_.size(); }

private:
    struct Target {
        HWND window = nullptr;
        UINT message = 0;
    };
    // A notice held back, sent when its timer fires.
    struct Held {
        SOCKET socket = INVALID_SOCKET; // or the lookup's handle, as a number
        Target target;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    };

    static int WINAPI Startup(WORD version, WSADATA* data);
    static SOCKET WINAPI Socket(int af, int type, int protocol);
    static HANDLE WINAPI GetHostByName(HWND window, u_int message, const char* name, char* buffer,
                                       int size);
    static HANDLE WINAPI GetServByName(HWND window, u_int message, const char* name,
                                       const char* protocol, char* buffer, int size);
    static int WINAPI CancelAsyncRequest(HANDLE request);
    static int WINAPI AsyncSelect(SOCKET s, HWND window, u_int message, long events);
    static int WINAPI Connect(SOCKET s, const sockaddr* name, int size);
    static int WINAPI Send(SOCKET s, const char* buffer, int size, int flags);
    static int WINAPI Recv(SOCKET s, char* buffer, int size, int flags);
    static int WINAPI CloseSocket(SOCKET s);

    // What a planned fault does to a send or a receive of size bytes: true when the call fails
    // (its error set, the notice Windows then sends posted), else length bytes go through.
    static bool Fails(SOCKET s, Site site, int size, int& length);
    bool Relay(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    void RelaySelect(SOCKET s, LPARAM lParam);
    void RelayLookup(HANDLE request, LPARAM lParam);
    void Forward(const Held& notice, int delayMs);
    void Drop(SOCKET s);
    static void Notify(const Target& target, SOCKET s, long event);
    static void SetError(int code);
    static int LastError();

    std::set<SOCKET> live_;
    std::map<SOCKET, Target> sockets_;
    std::map<HANDLE, Target> lookups_;
    std::map<UINT_PTR, Held> held_;
    UINT_PTR nextTimer_ = 1;
    UtilityWindow relay_;

    static inline WinsockFaults* self_ = nullptr;
};

} // namespace pw::chaos
