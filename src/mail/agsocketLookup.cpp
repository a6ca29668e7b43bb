// Socket connection: finding the server's address and port. A host name and a service name
// are looked up asynchronously, answered by a message to the socket's window; the result buffer
// is the socket's own and outlives the request.
#include "agsocket.h"

#include "core/MessageTable.h"
#include "core/ServerField.h"
#include "mail/agwsock.h"
#include "win/MessagePump.h"

namespace pw {

std::string TagSocket::HostPart() const {
    return std::string(SplitServerField(Server).Host);
}

int32_t TagSocket::PortPart() const {
    return ServerPortPart(Server);
}

void TagSocket::ResolveHost() {
    const std::string host = HostPart();
    if (host.size() >= hostName_.size())
        RaiseSocketError(kMsgErrorResolvingHost);
    hostName_.fill(0);
    host.copy(hostName_.data(), host.size());
    RemoteAddress = SharedWinsock().inet_addr(hostName_.data());
    if (RemoteAddress != INADDR_NONE)
        return;

    lookupResult_.fill(0);
    AsyncHandle = SharedWinsock().WSAAsyncGetHostByName(EventWindow.Handle(), WM_HOSTLOOKUP,
                                                        hostName_.data(), lookupResult_.data(),
                                                        static_cast<int>(lookupResult_.size()));
    if (AsyncHandle == nullptr)
        RaiseSocketError(static_cast<uint16_t>(SharedWinsock().WSAGetLastError()));
    WaitCounted([this] { return HostResolved; });
    if (HostResolved)
        AsyncHandle = nullptr;
    // The lookup's own answer first: a lookup that failed says why even when the time ran out
    // or a cancel came in the same round.
    RaiseWaitEnd({WaitEnd::Failed, WaitEnd::Expired, WaitEnd::Canceled});
    ProcessMessages();

    const auto* entry = reinterpret_cast<const hostent*>(lookupResult_.data());
    if (entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr || entry->h_length < 4)
        RaiseSocketError(kMsgErrorResolvingHost);
    const auto* bytes = reinterpret_cast<const unsigned char*>(entry->h_addr_list[0]);
    const std::string dotted = std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
                               std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
    RemoteAddress = SharedWinsock().inet_addr(dotted.c_str());
    if (RemoteAddress == INADDR_NONE)
        RaiseSocketError(kMsgErrorResolvingHost);
}

void TagSocket::ResolvePort() {
    const auto port = static_cast<uint16_t>(PortPart());
    if (port != 0) {
        RemotePort = port;
        return;
    }
    if (ServiceName.empty())
        RaiseSocketError(kMsgServiceNameRequired);
    if (Canceled)
        RaiseCanceled();
    if (ServiceName.size() >= serviceName_.size())
        RaiseSocketError(WSAEINVAL);
    serviceName_.fill(0);
    ServiceName.copy(serviceName_.data(), ServiceName.size());

    lookupResult_.fill(0);
    AsyncHandle = SharedWinsock().WSAAsyncGetServByName(
        EventWindow.Handle(), WM_SERVLOOKUP, serviceName_.data(), "tcp", lookupResult_.data(),
        static_cast<int>(lookupResult_.size()));
    if (AsyncHandle == nullptr) {
        RemotePort = DefaultPort;
        return;
    }
    WaitCounted([this] { return ServiceResolved; });
    if (!ServiceResolved)
        CancelAsyncRequest();
    AsyncHandle = nullptr;
    if (ErrorPending || Counter.Expired) {
        RemotePort = DefaultPort;
        return;
    }
    // Only a cancel fails the service lookup: an error or the time-out fall back to the default.
    RaiseWaitEnd({WaitEnd::Canceled});
    const auto* entry = reinterpret_cast<const servent*>(lookupResult_.data());
    const auto networkPort = static_cast<uint16_t>(entry->s_port);
    RemotePort = static_cast<uint16_t>((networkPort >> 8) | (networkPort << 8));
}

} // namespace pw
