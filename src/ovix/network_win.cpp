#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>

#include "ovix/log.h"
#include "ovix/network.h"

namespace velmora::ovix {
namespace {

std::string system_text(DWORD code) {
    char text[1025] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, text, sizeof text - 1, nullptr);
    if (n == 0) {
        std::snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(code));
    }
    return one_line(text);
}

} // namespace

int ovix_set_nodelay(socket_t s) {
    const int on = 1;
    const int rc =
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    if (rc != 0) {
        OVIX_ERR(kSourceNetwork, "ovix_set_nodelay", "setsockopt TCP_NODELAY\n");
    }
    return rc;
}

int ovix_set_keepalive(socket_t s) {
    const int on = 1;
    const int rc =
        setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    if (rc != 0) {
        OVIX_ERR(kSourceNetwork, "ovix_set_keepalive", "setsockopt SO_KEEPALIVE\n");
    }
    return rc;
}

socket_t tcp_connect(const char* text) {
    std::string host;
    std::string port;
    split_host_port(text, &host, &port);

    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (rc != 0) {
        OVIX_ERR(kSourceNetwork, "tcp_connect", "%s %s: %s\n", host.c_str(), port.c_str(),
                 system_text(static_cast<DWORD>(rc)).c_str());
        return kNoSocket;
    }
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
        char number[NI_MAXHOST];
        char service[NI_MAXSERV];
        const int named =
            getnameinfo(a->ai_addr, static_cast<socklen_t>(a->ai_addrlen), number, sizeof number,
                        service, sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
        if (named != 0) {
            OVIX_ERR(kSourceNetwork, "tcp_connect", "%s %s: %s\n", host.c_str(), port.c_str(),
                     system_text(static_cast<DWORD>(named)).c_str());
            continue;
        }
        OVIX_DBG(kSourceNetwork, "tcp_connect", "trying %s port %s\n\n", number, service);
        const SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            OVIX_ERR(kSourceNetwork, "tcp_connect", "socket\n");
            continue;
        }
        ovix_set_nodelay(s);
        ovix_set_keepalive(s);
        if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
            OVIX_DBG(kSourceNetwork, "tcp_connect", "connected to %s:%s\n", number, service);
            freeaddrinfo(list);
            return s;
        }
        closesocket(s);
    }
    OVIX_DBG(kSourceNetwork, "tcp_connect", "%s:%s, %s\n", host.c_str(), port.c_str(),
             "no destination to connect to");
    freeaddrinfo(list);
    return kNoSocket;
}

} // namespace velmora::ovix

namespace velmora::ovix {

bool net_startup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void net_cleanup() {
    WSACleanup();
}

socket_t tcp_socket() {
    return socket(AF_INET, SOCK_STREAM, 0);
}

bool bind_any(socket_t s, const char* port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    return bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool listen_backlog(socket_t s, int backlog) {
    return listen(s, backlog) == 0;
}

socket_t accept_peer(socket_t s) {
    return accept(s, nullptr, nullptr);
}

void close_socket(socket_t s) {
    if (s != kNoSocket) {
        closesocket(s);
    }
}

} // namespace velmora::ovix
