// The BER subset the appliance protocol needs: single-byte tags, definite lengths, 32-bit integers,
// octet strings and object identifiers. Reads go forward from the buffer's cursor and compare every
// length with the bytes that remain before touching them; writes prepend, so a message is built
// innermost and last element first. Every primitive returns 0 or -1 and leaves what it consumed or
// prepended in place; callers drop the whole buffer on failure.
#pragma once
#include <cstdint>
#include <memory>

#include "protocol/packet_buffer.h"

namespace velmora::protocol {

inline constexpr int kMaxOidArcs = 32;

namespace ber {
inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kNull = 0x05;
inline constexpr std::uint8_t kObjectId = 0x06;
inline constexpr std::uint8_t kSequence = 0x30;
} // namespace ber

// An object identifier of at most kMaxOidArcs arcs, held inline.
struct Oid {
    int count = 0;
    std::uint32_t arcs[kMaxOidArcs] = {};

    bool operator==(const Oid& other) const;
};

int readTag(std::uint8_t* tag, PacketBuffer& buffer);
// Refuses a length that is larger than the bytes remaining after it.
int readLength(int* length, PacketBuffer& buffer);
int readTagAndLength(std::uint8_t* tag, int* length, PacketBuffer& buffer);
// The tag was already read. A value longer than 4 bytes keeps its last 4.
int readInteger(std::int32_t* value, PacketBuffer& buffer);
// The tag was already read. The copy is zero-terminated; *length (if given) excludes the zero.
int readOctetString(std::unique_ptr<char[]>* out, int* length, PacketBuffer& buffer);
// The tag was already read. Reads at most `capacity` arcs (2..kMaxOidArcs); on failure the arc
// count is 0 or the number of arcs read so far.
int readOid(Oid* oid, int capacity, PacketBuffer& buffer);

int writeLengthAndTag(std::uint8_t tag, int length, PacketBuffer& buffer);
int writeInteger(std::uint8_t tag, std::int32_t value, PacketBuffer& buffer);
// A zero-terminated string without its terminator.
int writeString(std::uint8_t tag, const char* text, PacketBuffer& buffer);
int writeOctets(std::uint8_t tag, const void* bytes, int length, PacketBuffer& buffer);
int writeOid(const Oid& oid, PacketBuffer& buffer);

} // namespace velmora::protocol
