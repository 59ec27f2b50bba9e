// Which host interfaces the transport opens a socket on. The rule works on a plain description of
// the adapters (as the IP Helper library reports them), so it is the same on every platform and
// is tested by tables; the Winsock transport only fills the description in.
#pragma once
#include <cstdint>
#include <vector>

namespace velmora::protocol {

// An IPv4 prefix of an adapter; the address is in network order.
struct AdapterPrefix {
    std::uint32_t address = 0;
    int length = 0;
};

struct AdapterDescription {
    std::uint32_t index = 0; // interface index
    bool operUp = false;     // operationally up
    // The adapter's first unicast address: whether there is one, whether it is IPv4, and the
    // IPv4 address in network order.
    bool hasUnicast = false;
    bool unicastIsIpv4 = false;
    std::uint32_t address = 0;
    // IPv4 prefixes in the order reported (only asked for while the target is known).
    std::vector<AdapterPrefix> prefixes;
};

struct ChosenInterface {
    std::uint32_t index = 0;
    std::uint32_t address = 0; // network order
    bool hasPrefix = false;    // set when chosen by the prefix rule
    AdapterPrefix prefix;      // the first prefix that contains the target
};

// Network order; not 0.0.0.0, not in 127.0.0.0/8, below 224.0.0.0.
bool unicastQualifies(std::uint32_t address);
// A prefix of length 1 to 31 whose network contains `target` (both network order).
bool prefixContains(const AdapterPrefix& prefix, std::uint32_t target);

// The adapters to open sockets on, in order. `targetKnown` adds the prefix rule for `target`.
std::vector<ChosenInterface> chooseInterfaces(const std::vector<AdapterDescription>& adapters,
                                              bool targetKnown, std::uint32_t target);

} // namespace velmora::protocol
