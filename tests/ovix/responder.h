// A tiny host behind a stand-in adapter: answers ARP requests for its address and ICMP echo
// requests to it, so that a real ping can cross the bridge and come back.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora::ovix::testing {

struct Host {
    std::uint8_t mac[6];
    std::uint8_t ip[4];
};

// The reply to `frame`, or false when the frame asks nothing of this host.
bool respond(const Host& host, const std::uint8_t* frame, std::size_t n,
             std::vector<std::uint8_t>* reply);

// A short description of a frame for the stand-in's log ("arp-request", "icmp-echo", ...).
const char* describe(const std::uint8_t* frame, std::size_t n);

} // namespace velmora::ovix::testing
