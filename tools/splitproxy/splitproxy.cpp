// splitproxy LISTENPORT TARGETHOST:TARGETPORT: a TCP relay on 127.0.0.1 that passes every byte
// in a send of its own, with Nagle off, so that a client meets a stream cut into one-byte
// segments. Port 0 takes a free port; the port is printed on the first line of the output.
// Connections are relayed one after another until the process is ended. A test tool only.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int Fail(const char* what) {
    std::fprintf(stderr, "splitproxy: %s (error %d)\n", what, WSAGetLastError());
    return 1;
}

bool ParsePort(const char* text, u_short& port) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value > 65535)
        return false;
    port = static_cast<u_short>(value);
    return true;
}

// Passes what one side has to the other, a byte a send; false when either side is done.
bool Pass(SOCKET from, SOCKET to) {
    char buffer[4096];
    const int n = recv(from, buffer, sizeof buffer, 0);
    if (n <= 0)
        return false;
    for (int i = 0; i < n; ++i)
        if (send(to, buffer + i, 1, 0) != 1)
            return false;
    return true;
}

void Relay(SOCKET client, const sockaddr_in& target) {
    SOCKET server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (server == INVALID_SOCKET ||
        connect(server, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        Fail("cannot reach the target");
        if (server != INVALID_SOCKET)
            closesocket(server);
        return;
    }
    const BOOL on = TRUE;
    for (SOCKET s : {client, server})
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client, &readable);
        FD_SET(server, &readable);
        if (select(0, &readable, nullptr, nullptr, nullptr) <= 0)
            break;
        if (FD_ISSET(client, &readable) && !Pass(client, server))
            break;
        if (FD_ISSET(server, &readable) && !Pass(server, client))
            break;
    }
    closesocket(server);
}

} // namespace

int main(int argc, char** argv) {
    u_short listenPort = 0;
    const std::string target = argc == 3 ? argv[2] : "";
    const size_t colon = target.rfind(':');
    u_short targetPort = 0;
    if (argc != 3 || !ParsePort(argv[1], listenPort) || colon == std::string::npos ||
        !ParsePort(target.c_str() + colon + 1, targetPort) || targetPort == 0) {
        std::fprintf(stderr, "usage: splitproxy LISTENPORT TARGETHOST:TARGETPORT\n");
        return 2;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return Fail("no Winsock");

    sockaddr_in targetAddress{};
    targetAddress.sin_family = AF_INET;
    targetAddress.sin_port = htons(targetPort);
    const std::string host = target.substr(0, colon);
    targetAddress.sin_addr.s_addr = inet_addr(host == "localhost" ? "127.0.0.1" : host.c_str());
    if (targetAddress.sin_addr.s_addr == INADDR_NONE)
        return Fail("the target must be a dotted address");

    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listenPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (listener == INVALID_SOCKET ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return Fail("cannot listen");
    std::printf("%u\n", ntohs(address.sin_port));
    std::fflush(stdout);

    for (;;) {
        SOCKET client = accept(listener, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return Fail("accept failed");
        Relay(client, targetAddress);
        closesocket(client);
    }
}
