// The synthetic IPv4/UDP header that wraps every datagram written to or read from the virtual
// machine's named pipe, so the far end can treat pipe traffic like packets off the wire.
#pragma once
#include <cstddef>
#include <cstdint>

namespace velmora::protocol {

inline constexpr int kPipeHeaderSize = 28;
inline constexpr int kPipeMaxPayload = 2048; // longer datagrams are cut

// The Internet checksum (RFC 791/1071) of `length` bytes.
std::uint16_t internetChecksum(const std::uint8_t* bytes, std::size_t length);

// Writes the 28 header bytes for a payload of `payloadLength` bytes (the caller has already cut it
// to kPipeMaxPayload), identification `packetId`, destination `target` (network order).
void buildPipeHeader(std::uint8_t header[kPipeHeaderSize], int payloadLength,
                     std::uint16_t packetId, std::uint32_t target);

// Checks a message read from the pipe: at least 28 bytes, version/length byte 0x45, protocol
// UDP. On success stores the source address (network order) and source port.
bool checkPipeHeader(const std::uint8_t* bytes, int length, std::uint32_t* source,
                     std::uint16_t* sourcePort);

} // namespace velmora::protocol
