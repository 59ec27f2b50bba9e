// TCP connection helpers ("ovix/ovix_network" in report lines).
#pragma once
#include <cstddef>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#endif

namespace velmora::ovix {

#ifdef _WIN32
using socket_t = SOCKET;
inline constexpr socket_t kNoSocket = INVALID_SOCKET;
#else
using socket_t = int;
inline constexpr socket_t kNoSocket = -1;
#endif

// host[:port], port "1200" by default; every resolved address is tried in order. Returns the
// connected socket (with no-delay and keep-alive set) or kNoSocket.
socket_t tcp_connect(const char* host);

// 0 on success, the setsockopt result otherwise. No-delay is set on every socket it is asked for.
int ovix_set_nodelay(socket_t s);
int ovix_set_keepalive(socket_t s);

// A system message on one line: line breaks inside become spaces, trailing ones and trailing
// blanks go, and the text is cut to at most `limit` characters.
std::string one_line(const char* text, std::size_t limit = 1024);

// The default port when the host text has none.
inline constexpr const char kDefaultPort[] = "1200";

// Splits "host[:port]" (at most 63 characters are used) at the first ':'.
void split_host_port(const char* text, std::string* host, std::string* port);

} // namespace velmora::ovix

namespace velmora::ovix {

// Winsock start-up (nothing to do elsewhere); false when the socket library cannot be started.
bool net_startup();
void net_cleanup();

// The small socket steps of server mode, each reported by its caller.
socket_t tcp_socket();                       // AF_INET, SOCK_STREAM
bool bind_any(socket_t s, const char* port); // every local IPv4 address
bool listen_backlog(socket_t s, int backlog);
socket_t accept_peer(socket_t s); // blocking; kNoSocket when it fails
void close_socket(socket_t s);

} // namespace velmora::ovix
