// The program's three modes and its entry. Exit codes: 1 when attach or server cannot set up
// (connection, TAP adapter, stop object, listening socket), 0 in every other case.
#pragma once
#include <cstdio>

namespace velmora::ovix {

inline constexpr const char kServerPort[] = "1200";
inline constexpr int kServerBacklog = 2;

// Connects to host[:port], opens the adapter and the stop object, forwards until stopped.
int attach_device(const char* host, const char* tapguid, bool capture);
// Listens on every local IPv4 address, port 1200, and forwards one accepted peer at a time
// until the stop object is found set between connections.
int server_device(const char* tapguid, bool capture);
// Sets the stop object of the adapter.
void detach_device(const char* tapguid);

// The whole program: banner, option parsing and the chosen mode. Version and usage texts go to
// `out`; reports go to the log stream (standard error).
int ovix_main(int argc, char* argv[], std::FILE* out);

} // namespace velmora::ovix
