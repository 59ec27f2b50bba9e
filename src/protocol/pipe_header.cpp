#include "protocol/pipe_header.h"

#include <cstring>

#include "protocol/transport.h"

namespace velmora::protocol {
namespace {

void put16(std::uint8_t* at, unsigned value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

} // namespace

std::uint16_t internetChecksum(const std::uint8_t* bytes, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        sum += (std::uint32_t{bytes[i]} << 8) | bytes[i + 1];
    }
    if (length % 2 != 0) {
        sum += std::uint32_t{bytes[length - 1]} << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

void buildPipeHeader(std::uint8_t header[kPipeHeaderSize], int payloadLength,
                     std::uint16_t packetId, std::uint32_t target) {
    std::memset(header, 0, kPipeHeaderSize);
    header[0] = 0x45;
    put16(header + 2, static_cast<unsigned>(payloadLength + kPipeHeaderSize));
    put16(header + 4, packetId);
    header[8] = 16;
    header[9] = 17;
    std::memcpy(header + 16, &target, 4); // already network order
    put16(header + 20, kAppliancePort);
    put16(header + 22, kAppliancePort);
    put16(header + 24, static_cast<unsigned>(payloadLength + 8));
    put16(header + 10, internetChecksum(header, 20));
}

bool checkPipeHeader(const std::uint8_t* bytes, int length, std::uint32_t* source,
                     std::uint16_t* sourcePort) {
    if (length < kPipeHeaderSize || bytes[0] != 0x45 || bytes[9] != 17) {
        return false;
    }
    std::memcpy(source, bytes + 12, 4);
    *sourcePort = static_cast<std::uint16_t>((bytes[20] << 8) | bytes[21]);
    return true;
}

} // namespace velmora::protocol
