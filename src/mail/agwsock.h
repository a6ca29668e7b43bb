// The run-time binding to Windows Sockets 1.1: "wsock32.dll" is loaded by name and every
// function is looked up each time it is called. The program never links a sockets library.
#pragma once

#include <windows.h>
#include <winsock.h> // Winsock 1.1 types and constants only; nothing here is linked

#include <cstdint>
#include <functional>
#include <string>

#include "core/Component.h"
#include "win/Binding.h"
#include "win/Handles.h"

namespace pw {

class TagWinsock : public TObject {
public:
    // The library name is a seam for tests; the product always uses "wsock32.dll".
    explicit TagWinsock(std::string libraryName = "wsock32.dll");
    ~TagWinsock() override;

    bool IsLoaded() const { return static_cast<bool>(LibHandle); }
    // Raises EWinsockDLLError "Winsock not found" when the library cannot be loaded.
    void Load();
    void Unload();
    // Raises EWinsockDLLError "Winsock is not loaded" or "Function <name> not found".
    FARPROC GetProc(const char* name) const;

    // Sees every address a call looks up and may hand back another one of the same type: tests
    // make a function answer as a platform would that they do not run on. Empty: none.
    using ProcFilter = std::function<FARPROC(const char* name, FARPROC address)>;
    void SetProcFilter(ProcFilter filter) { procFilter_ = std::move(filter); }

    int closesocket(SOCKET s) const;
    int connect(SOCKET s, const sockaddr* name, int namelen) const;
    u_short htons(u_short hostshort) const;
    unsigned long inet_addr(const char* cp) const;
    int recv(SOCKET s, char* buf, int len, int flags) const;
    int send(SOCKET s, const char* buf, int len, int flags) const;
    SOCKET socket(int af, int type, int protocol) const;
    hostent* gethostbyname(const char* name) const;
    int gethostname(char* name, int namelen) const;
    servent* getservbyname(const char* name, const char* proto) const;
    int WSAStartup(WORD wVersionRequested, WSADATA* lpWSAData) const;
    int WSACleanup() const;
    int WSAGetLastError() const;
    BOOL WSAIsBlocking() const;
    int WSACancelBlockingCall() const;
    HANDLE WSAAsyncGetServByName(HWND hWnd, u_int wMsg, const char* name, const char* proto,
                                 char* buf, int buflen) const;
    HANDLE WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf,
                                 int buflen) const;
    int WSACancelAsyncRequest(HANDLE hAsyncTaskHandle) const;
    int WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent) const;

    // The parts of a notification's lParam: the error code (high word) and the event (low).
    static uint16_t AsyncErrorOf(LPARAM lParam) { return HIWORD(static_cast<DWORD>(lParam)); }
    static uint16_t SelectEventOf(LPARAM lParam) { return LOWORD(static_cast<DWORD>(lParam)); }

private:
    // The address of a function, typed like the library's own declaration of it.
    template <typename Function> Function Proc(const char* name) const {
        return TypedProc<Function>(GetProc(name));
    }

    std::string libraryName_;
    UniqueModule LibHandle;
    ProcFilter procFilter_;
};

// The one binding of the process, shared by every socket; unloaded at program exit.
TagWinsock& SharedWinsock();

} // namespace pw
