// The Winsock side of the fault-injection run; see WinsockFaults.h. A call that fails is not
// made at all (nothing changes in the library), so that the state the socket sees is one that
// Windows can be in after such a failure.
#include "WinsockFaults.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "Injector.h"
#include "mail/agwsock.h"
#include "win/Binding.h"

namespace pw::chaos {

namespace {

constexpr UINT kSelectMessage = WM_APP + 300;
constexpr UINT kLookupMessage = WM_APP + 301;
constexpr UINT kHostLookupMessage = WM_USER + 148; // the socket's own number for it
constexpr int kSecondReadNoticeMs = 30;

// The real functions, as the binding last looked them up.
std::map<std::string, FARPROC>& Real() {
    static std::map<std::string, FARPROC> real;
    return real;
}

template <typename Function> Function RealProc(const char* name) {
    return TypedProc<Function>(Real()[name]);
}

const PlannedFault* Strike(Site site) {
    return Injector::Instance().Strike(site);
}

void Touch() {
    Injector::Instance().Touch();
}

struct Replacement {
    const char* name;
    FARPROC address;
};

} // namespace

WinsockFaults::WinsockFaults()
    : relay_(UtilityWindow::Kind::MessageOnly,
             [this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                 return Relay(message, wParam, lParam, result);
             }) {
    self_ = this;
    SharedWinsock().SetProcFilter([](const char* name, FARPROC address) -> FARPROC {
        static const Replacement replacements[] = {
            {"WSAStartup", TypedProc<FARPROC>(&Startup)},
            {"socket", TypedProc<FARPROC>(&Socket)},
            {"WSAAsyncGetHostByName", TypedProc<FARPROC>(&GetHostByName)},
            {"WSAAsyncGetServByName", TypedProc<FARPROC>(&GetServByName)},
            {"WSACancelAsyncRequest", TypedProc<FARPROC>(&CancelAsyncRequest)},
            {"WSAAsyncSelect", TypedProc<FARPROC>(&AsyncSelect)},
            {"connect", TypedProc<FARPROC>(&Connect)},
            {"send", TypedProc<FARPROC>(&Send)},
            {"recv", TypedProc<FARPROC>(&Recv)},
            {"closesocket", TypedProc<FARPROC>(&CloseSocket)},
        };
        for (const Replacement& replacement : replacements) {
            if (std::strcmp(name, replacement.name) == 0) {
                Real()[name] = address;
                return replacement.address;
            }
        }
        return address;
    });
}

WinsockFaults::~WinsockFaults() {
    SharedWinsock().SetProcFilter(nullptr);
    for (const auto& [timer, notice] : held_)
        KillTimer(relay_.Handle(), timer);
    self_ = nullptr;
}

// The library's own last error: what the socket's WSAGetLastError then reads.
void WinsockFaults::SetError(int code) {
    static const auto set = LookUpFunction<decltype(&::WSASetLastError)>(
        GetModuleHandleA("wsock32.dll"), "WSASetLastError");
    if (set != nullptr)
        set(code);
}

int WinsockFaults::LastError() {
    static const auto get = LookUpFunction<decltype(&::WSAGetLastError)>(
        GetModuleHandleA("wsock32.dll"), "WSAGetLastError");
    return get != nullptr ? get() : 0;
}

void WinsockFaults::Notify(const Target& target, SOCKET s, long event) {
    PostMessageA(target.window, target.message, static_cast<WPARAM>(s),
                 WSAMAKESELECTREPLY(event, 0));
}

int WINAPI WinsockFaults::Startup(WORD version, WSADATA* data) {
    Touch();
    if (const PlannedFault* fault = Strike(Site::WsaStartup))
        return static_cast<int>(fault->code);
    return RealProc<decltype(&::WSAStartup)>("WSAStartup")(version, data);
}

SOCKET WINAPI WinsockFaults::Socket(int af, int type, int protocol) {
    Touch();
    if (const PlannedFault* fault = Strike(Site::CreateSocket)) {
        SetError(static_cast<int>(fault->code));
        return INVALID_SOCKET;
    }
    const SOCKET s = RealProc<decltype(&::socket)>("socket")(af, type, protocol);
    if (s != INVALID_SOCKET)
        self_->live_.insert(s);
    return s;
}

HANDLE WINAPI WinsockFaults::GetHostByName(HWND window, u_int message, const char* name,
                                           char* buffer, int size) {
    Touch();
    if (const PlannedFault* fault = Strike(Site::HostLookup)) {
        SetError(static_cast<int>(fault->code));
        return nullptr;
    }
    const HANDLE request = RealProc<decltype(&::WSAAsyncGetHostByName)>("WSAAsyncGetHostByName")(
        self_->relay_.Handle(), kLookupMessage, name, buffer, size);
    if (request != nullptr)
        self_->lookups_[request] = {window, message};
    return request;
}

HANDLE WINAPI WinsockFaults::GetServByName(HWND window, u_int message, const char* name,
                                           const char* protocol, char* buffer, int size) {
    Touch();
    const HANDLE request = RealProc<decltype(&::WSAAsyncGetServByName)>("WSAAsyncGetServByName")(
        self_->relay_.Handle(), kLookupMessage, name, protocol, buffer, size);
    if (request != nullptr)
        self_->lookups_[request] = {window, message};
    return request;
}

int WINAPI WinsockFaults::CancelAsyncRequest(HANDLE request) {
    Touch();
    self_->lookups_.erase(request);
    self_->Drop(reinterpret_cast<SOCKET>(request));
    return RealProc<decltype(&::WSACancelAsyncRequest)>("WSACancelAsyncRequest")(request);
}

int WINAPI WinsockFaults::AsyncSelect(SOCKET s, HWND window, u_int message, long events) {
    Touch();
    if (const PlannedFault* fault = Strike(Site::AsyncSelect)) {
        SetError(static_cast<int>(fault->code));
        return SOCKET_ERROR;
    }
    const auto select = RealProc<decltype(&::WSAAsyncSelect)>("WSAAsyncSelect");
    if (window == nullptr || events == 0) {
        self_->Drop(s);
        return select(s, window, message, events);
    }
    self_->sockets_[s] = {window, message};
    return select(s, self_->relay_.Handle(), kSelectMessage, events);
}

int WINAPI WinsockFaults::Connect(SOCKET s, const sockaddr* name, int size) {
    Touch();
    if (const PlannedFault* fault = Strike(Site::Connect)) {
        SetError(static_cast<int>(fault->code));
        return SOCKET_ERROR;
    }
    return RealProc<decltype(&::connect)>("connect")(s, name, size);
}

bool WinsockFaults::Fails(SOCKET s, Site site, int size, int& length) {
    length = size;
    const PlannedFault* fault = Strike(site);
    if (fault == nullptr)
        return false;
    switch (FaultKinds()[fault->kind].effect) {
    case Effect::Fail:
        SetError(static_cast<int>(fault->code));
        return true;
    case Effect::WouldBlock: {
        SetError(WSAEWOULDBLOCK);
        // Windows tells when there is room again, or that what was not taken is still there.
        const auto target = self_->sockets_.find(s);
        if (target != self_->sockets_.end())
            Notify(target->second, s, site == Site::Send ? FD_WRITE : FD_READ);
        return true;
    }
    case Effect::Partly:
        if (site == Site::Send && size > 1)
            length = std::clamp(static_cast<int>(size * fault->code / 100), 1, size - 1);
        else if (site == Site::Recv)
            length = std::min(size, static_cast<int>(fault->code));
        return false;
    default:
        return false;
    }
}

int WINAPI WinsockFaults::Send(SOCKET s, const char* buffer, int size, int flags) {
    Touch();
    int length = size;
    if (Fails(s, Site::Send, size, length))
        return SOCKET_ERROR;
    const int sent = RealProc<decltype(&::send)>("send")(s, buffer, length, flags);
    // On a connection that is gone Windows says WSAENOTCONN where Wine says WSAECONNRESET.
    if (sent == SOCKET_ERROR && LastError() == WSAECONNRESET)
        SetError(WSAENOTCONN);
    return sent;
}

int WINAPI WinsockFaults::Recv(SOCKET s, char* buffer, int size, int flags) {
    Touch();
    int length = size;
    if (Fails(s, Site::Recv, size, length))
        return SOCKET_ERROR;
    return RealProc<decltype(&::recv)>("recv")(s, buffer, length, flags);
}

int WINAPI WinsockFaults::CloseSocket(SOCKET s) {
    Touch();
    self_->live_.erase(s);
    self_->sockets_.erase(s);
    self_->Drop(s);
    const int result = RealProc<decltype(&::closesocket)>("closesocket")(s);
    if (const PlannedFault* fault = Strike(Site::CloseSocket)) {
        SetError(static_cast<int>(fault->code));
        return SOCKET_ERROR;
    }
    return result;
}

bool WinsockFaults::Relay(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    switch (message) {
    case WM_TIMER: {
        KillTimer(relay_.Handle(), wParam);
        const auto held = held_.find(wParam);
        if (held != held_.end()) {
            PostMessageA(held->second.target.window, held->second.target.message,
                         held->second.wParam, held->second.lParam);
            held_.erase(held);
        }
        return true;
    }
    case kSelectMessage:
        RelaySelect(static_cast<SOCKET>(wParam), lParam);
        return true;
    case kLookupMessage:
        RelayLookup(reinterpret_cast<HANDLE>(wParam), lParam);
        return true;
    default:
        return false;
    }
}

void WinsockFaults::RelaySelect(SOCKET s, LPARAM lParam) {
    const auto target = sockets_.find(s);
    if (target == sockets_.end())
        return; // a notice of a socket closed since: Windows would not send it any more
    Held notice{s, target->second, static_cast<WPARAM>(s), lParam};
    const long event = WSAGETSELECTEVENT(lParam);
    const bool error = WSAGETSELECTERROR(lParam) != 0;
    const Site site = event == FD_READ      ? Site::ReadNotice
                      : event == FD_CLOSE   ? Site::CloseNotice
                      : event == FD_CONNECT ? Site::ConnectNotice
                                            : Site::WsaStartup;
    const PlannedFault* fault = site == Site::WsaStartup || error ? nullptr : Strike(site);
    if (fault == nullptr)
        return Forward(notice, 0);
    switch (FaultKinds()[fault->kind].effect) {
    case Effect::Fail:
        notice.lParam = WSAMAKESELECTREPLY(event, static_cast<WORD>(fault->code));
        return Forward(notice, 0);
    case Effect::Delay:
        return Forward(notice, static_cast<int>(fault->code));
    case Effect::Twice:
        Forward(notice, 0);
        return Forward(notice, kSecondReadNoticeMs);
    default:
        return Forward(notice, 0);
    }
}

void WinsockFaults::RelayLookup(HANDLE request, LPARAM lParam) {
    const auto target = lookups_.find(request);
    if (target == lookups_.end())
        return;
    Held notice{reinterpret_cast<SOCKET>(request), target->second,
                reinterpret_cast<WPARAM>(request), lParam};
    lookups_.erase(target);
    const PlannedFault* fault =
        notice.target.message == kHostLookupMessage ? Strike(Site::HostLookupNotice) : nullptr;
    if (fault != nullptr && FaultKinds()[fault->kind].effect == Effect::Fail)
        notice.lParam =
            WSAMAKEASYNCREPLY(WSAGETASYNCBUFLEN(lParam), static_cast<WORD>(fault->code));
    Forward(notice, fault != nullptr && FaultKinds()[fault->kind].effect == Effect::Delay
                        ? static_cast<int>(fault->code)
                        : 0);
}

void WinsockFaults::Forward(const Held& notice, int delayMs) {
    if (delayMs <= 0) {
        PostMessageA(notice.target.window, notice.target.message, notice.wParam, notice.lParam);
        return;
    }
    const UINT_PTR timer = nextTimer_++;
    held_[timer] = notice;
    SetTimer(relay_.Handle(), timer, static_cast<UINT>(delayMs), nullptr);
}

// Notices still held for a socket (or lookup) that has ended are not sent: Windows sends none
// after the close.
void WinsockFaults::Drop(SOCKET s) {
    for (auto held = held_.begin(); held != held_.end();) {
        if (held->second.socket == s) {
            KillTimer(relay_.Handle(), held->first);
            held = held_.erase(held);
        } else {
            ++held;
        }
    }
}

} // namespace pw::chaos
