// Winsock binding; see agwsock.h. No address is cached: a call finds its function anew, so a
// library unloaded in between is reported instead of being called through a stale pointer.
#include "agwsock.h"

#include "core/Errors.h"
#include "core/MessageTable.h"

namespace pw {

// Calls the library's function of the same name as the wrapper, arguments unchanged.
#define PW_WINSOCK_CALL(name, ...) Proc<decltype(&::name)>(#name)(__VA_ARGS__)

TagWinsock::TagWinsock(std::string libraryName) : libraryName_(std::move(libraryName)) {}

TagWinsock::~TagWinsock() {
    Unload();
}

void TagWinsock::Load() {
    // No "cannot find the library" box on a machine without it.
    const UINT previousMode = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    LibHandle = LoadSystemLibrary(libraryName_.c_str());
    SetErrorMode(previousMode);
    if (!LibHandle)
        throw EWinsockDLLError(LoadMessage(kMsgWinsockNotFound));
}

void TagWinsock::Unload() {
    LibHandle.reset();
}

FARPROC TagWinsock::GetProc(const char* name) const {
    if (!IsLoaded())
        throw EWinsockDLLError(LoadMessage(kMsgWinsockNotLoaded));
    FARPROC address = LookUpFunction<FARPROC>(LibHandle.get(), name);
    if (address == nullptr) {
        const std::string format = LoadMessage(kMsgFunctionNotFound);
        std::string text;
        const size_t at = format.find("%s");
        text =
            at == std::string::npos ? format : format.substr(0, at) + name + format.substr(at + 2);
        throw EWinsockDLLError(text);
    }
    return procFilter_ ? procFilter_(name, address) : address;
}

int TagWinsock::closesocket(SOCKET s) const {
    return PW_WINSOCK_CALL(closesocket, s);
}
int TagWinsock::connect(SOCKET s, const sockaddr* name, int namelen) const {
    return PW_WINSOCK_CALL(connect, s, name, namelen);
}
u_short TagWinsock::htons(u_short hostshort) const {
    return PW_WINSOCK_CALL(htons, hostshort);
}
unsigned long TagWinsock::inet_addr(const char* cp) const {
    return PW_WINSOCK_CALL(inet_addr, cp);
}
int TagWinsock::recv(SOCKET s, char* buf, int len, int flags) const {
    return PW_WINSOCK_CALL(recv, s, buf, len, flags);
}
int TagWinsock::send(SOCKET s, const char* buf, int len, int flags) const {
    return PW_WINSOCK_CALL(send, s, buf, len, flags);
}
SOCKET TagWinsock::socket(int af, int type, int protocol) const {
    return PW_WINSOCK_CALL(socket, af, type, protocol);
}
hostent* TagWinsock::gethostbyname(const char* name) const {
    return PW_WINSOCK_CALL(gethostbyname, name);
}
int TagWinsock::gethostname(char* name, int namelen) const {
    return PW_WINSOCK_CALL(gethostname, name, namelen);
}
servent* TagWinsock::getservbyname(const char* name, const char* proto) const {
    return PW_WINSOCK_CALL(getservbyname, name, proto);
}
int TagWinsock::WSAStartup(WORD wVersionRequested, WSADATA* lpWSAData) const {
    return PW_WINSOCK_CALL(WSAStartup, wVersionRequested, lpWSAData);
}
int TagWinsock::WSACleanup() const {
    return PW_WINSOCK_CALL(WSACleanup);
}
int TagWinsock::WSAGetLastError() const {
    return PW_WINSOCK_CALL(WSAGetLastError);
}
BOOL TagWinsock::WSAIsBlocking() const {
    return PW_WINSOCK_CALL(WSAIsBlocking);
}
int TagWinsock::WSACancelBlockingCall() const {
    return PW_WINSOCK_CALL(WSACancelBlockingCall);
}
HANDLE TagWinsock::WSAAsyncGetServByName(HWND hWnd, u_int wMsg, const char* name, const char* proto,
                                         char* buf, int buflen) const {
    return PW_WINSOCK_CALL(WSAAsyncGetServByName, hWnd, wMsg, name, proto, buf, buflen);
}
HANDLE TagWinsock::WSAAsyncGetHostByName(HWND hWnd, u_int wMsg, const char* name, char* buf,
                                         int buflen) const {
    return PW_WINSOCK_CALL(WSAAsyncGetHostByName, hWnd, wMsg, name, buf, buflen);
}
int TagWinsock::WSACancelAsyncRequest(HANDLE hAsyncTaskHandle) const {
    return PW_WINSOCK_CALL(WSACancelAsyncRequest, hAsyncTaskHandle);
}
int TagWinsock::WSAAsyncSelect(SOCKET s, HWND hWnd, u_int wMsg, long lEvent) const {
    return PW_WINSOCK_CALL(WSAAsyncSelect, s, hWnd, wMsg, lEvent);
}

#undef PW_WINSOCK_CALL

TagWinsock& SharedWinsock() {
    // Destroyed, and so unloaded, when the program ends.
    static TagWinsock shared;
    return shared;
}

} // namespace pw
