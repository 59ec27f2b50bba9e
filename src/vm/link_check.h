// Whether the host has a network path to the appliance: a usable unicast address for the
// appliance and a host address in the same subnet. The rule is pure; reading the host's address
// table is the platform's part.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace velmora::vm {

// One row of the host's IPv4 address table, both fields in network order.
struct HostAddress {
    std::uint32_t address = 0;
    std::uint32_t mask = 0;
};

// False for 0.0.0.0, 127.0.0.0/8 and everything from 224.0.0.0 up. Network order.
bool isUsableUnicast(std::uint32_t address);
// 1 when the appliance address is not usable or no usable host address shares its subnet under
// that host address's mask; 0 otherwise.
int linkProblem(std::uint32_t applianceAddress, const HostAddress* table, std::size_t count);

// The host's IPv4 address table: 0, or the platform's error code.
int readHostAddressTable(std::vector<HostAddress>* table);

// Builds a network-order address from its dotted parts (for tables and tests).
constexpr std::uint32_t ipv4(unsigned a, unsigned b, unsigned c, unsigned d) {
    // Network order is the byte order in memory: the first part is the lowest-addressed byte.
    const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                    static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    if constexpr (std::endian::native == std::endian::little) {
        return bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
               (static_cast<std::uint32_t>(bytes[3]) << 24);
    } else {
        return (static_cast<std::uint32_t>(bytes[0]) << 24) | (bytes[1] << 16) | (bytes[2] << 8) |
               bytes[3];
    }
}

} // namespace velmora::vm
