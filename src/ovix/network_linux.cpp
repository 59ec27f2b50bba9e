#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "ovix/log.h"
#include "ovix/network.h"

namespace velmora::ovix {
namespace {

std::string lookup_text(int code) {
    return one_line(code == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(code));
}

} // namespace

int ovix_set_nodelay(socket_t s) {
    const int on = 1;
    const int rc = setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (rc != 0) {
        OVIX_ERR(kSourceNetwork, "ovix_set_nodelay", "setsockopt TCP_NODELAY\n");
    }
    return rc;
}

int ovix_set_keepalive(socket_t s) {
    const int on = 1;
    const int rc = setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
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
                 lookup_text(rc).c_str());
        return kNoSocket;
    }
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
        char number[NI_MAXHOST];
        char service[NI_MAXSERV];
        const int named = getnameinfo(a->ai_addr, a->ai_addrlen, number, sizeof number, service,
                                      sizeof service, NI_NUMERICHOST | NI_NUMERICSERV);
        if (named != 0) {
            OVIX_ERR(kSourceNetwork, "tcp_connect", "%s %s: %s\n", host.c_str(), port.c_str(),
                     lookup_text(named).c_str());
            continue;
        }
        OVIX_DBG(kSourceNetwork, "tcp_connect", "trying %s port %s\n\n", number, service);
        const int s = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            OVIX_ERR(kSourceNetwork, "tcp_connect", "socket\n");
            continue;
        }
        ovix_set_nodelay(s);
        ovix_set_keepalive(s);
        int connected;
        do {
            connected = connect(s, a->ai_addr, a->ai_addrlen);
        } while (connected != 0 && errno == EINTR);
        if (connected == 0) {
            OVIX_DBG(kSourceNetwork, "tcp_connect", "connected to %s:%s\n", number, service);
            freeaddrinfo(list);
            return s;
        }
        close(s);
    }
    OVIX_DBG(kSourceNetwork, "tcp_connect", "%s:%s, %s\n", host.c_str(), port.c_str(),
             "no destination to connect to");
    freeaddrinfo(list);
    return kNoSocket;
}

} // namespace velmora::ovix

namespace velmora::ovix {

bool net_startup() {
    return true;
}

void net_cleanup() {}

socket_t tcp_socket() {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

bool bind_any(socket_t s, const char* port) {
    // A server restarted at once must not wait for the last run's connections to time out.
    const int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(port)));
    return bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool listen_backlog(socket_t s, int backlog) {
    return listen(s, backlog) == 0;
}

socket_t accept_peer(socket_t s) {
    // A stop signal interrupts the wait (no restart), which ends the server's loop.
    return accept4(s, nullptr, nullptr, SOCK_CLOEXEC);
}

void close_socket(socket_t s) {
    if (s >= 0) {
        close(s);
    }
}

} // namespace velmora::ovix
