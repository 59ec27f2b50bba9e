#include "protocol/ber.h"

#include <cstring>
#include <new>

namespace velmora::protocol {

bool Oid::operator==(const Oid& other) const {
    if (count != other.count || count < 0 || count > kMaxOidArcs) {
        return false;
    }
    return std::memcmp(arcs, other.arcs, sizeof(arcs[0]) * static_cast<std::size_t>(count)) == 0;
}

int readTag(std::uint8_t* tag, PacketBuffer& buffer) {
    return buffer.readBytes(tag, 1);
}

int readLength(int* length, PacketBuffer& buffer) {
    std::uint8_t first;
    if (buffer.readBytes(&first, 1) != 0) {
        return -1;
    }
    std::uint64_t value = first;
    if (first & 0x80) {
        const int count = first & 0x7F;
        value = 0;
        for (int i = 0; i < count; ++i) {
            std::uint8_t byte;
            if (buffer.readBytes(&byte, 1) != 0) {
                return -1;
            }
            // Saturate instead of letting high bytes fall off: a length that only fits after
            // wrapping is still longer than any datagram.
            value = value > 0xFFFFFFFFull ? value : (value << 8) | byte;
        }
    }
    if (value > buffer.remaining()) {
        return -1;
    }
    *length = static_cast<int>(value);
    return 0;
}

int readTagAndLength(std::uint8_t* tag, int* length, PacketBuffer& buffer) {
    if (readTag(tag, buffer) != 0) {
        return -1;
    }
    return readLength(length, buffer);
}

int readInteger(std::int32_t* value, PacketBuffer& buffer) {
    int length;
    if (readLength(&length, buffer) != 0) {
        return -1;
    }
    std::uint32_t result = 0;
    for (int i = 0; i < length; ++i) {
        std::uint8_t byte;
        if (buffer.readBytes(&byte, 1) != 0) {
            return -1;
        }
        if (i == 0) {
            result = static_cast<std::uint32_t>(
                static_cast<std::int32_t>(static_cast<std::int8_t>(byte)));
        } else {
            result = (result << 8) | byte;
        }
    }
    *value = static_cast<std::int32_t>(result);
    return 0;
}

int readOctetString(std::unique_ptr<char[]>* out, int* length, PacketBuffer& buffer) {
    int n;
    if (readLength(&n, buffer) != 0) {
        return -1;
    }
    std::unique_ptr<char[]> copy(new (std::nothrow) char[static_cast<std::size_t>(n) + 1]);
    if (!copy || buffer.readBytes(copy.get(), n) != 0) {
        return -1;
    }
    copy[n] = 0;
    *out = std::move(copy);
    if (length != nullptr) {
        *length = n;
    }
    return 0;
}

int readOid(Oid* oid, int capacity, PacketBuffer& buffer) {
    oid->count = 0;
    if (capacity > kMaxOidArcs) {
        capacity = kMaxOidArcs;
    }
    int length;
    if (readLength(&length, buffer) != 0 || length == 0 || capacity <= 1) {
        return -1;
    }
    std::uint8_t first;
    if (buffer.readBytes(&first, 1) != 0) {
        return -1;
    }
    oid->arcs[0] = first / 40;
    oid->arcs[1] = first % 40;
    oid->count = 2;
    int consumed = 1;
    while (consumed < length) {
        if (oid->count >= capacity) {
            return -1;
        }
        std::uint32_t value = 0;
        std::uint8_t byte;
        do {
            if (consumed >= length || buffer.readBytes(&byte, 1) != 0) {
                return -1; // the last content byte still announced a continuation
            }
            ++consumed;
            value = (value << 7) | (byte & 0x7F);
        } while (byte & 0x80);
        oid->arcs[oid->count++] = value;
    }
    return 0;
}

int writeLengthAndTag(std::uint8_t tag, int length, PacketBuffer& buffer) {
    if (length < 0) {
        return -1;
    }
    if (length < 128) {
        if (buffer.prependByte(static_cast<std::uint8_t>(length)) != 0) {
            return -1;
        }
    } else {
        std::uint32_t rest = static_cast<std::uint32_t>(length);
        std::uint8_t count = 0;
        while (rest != 0) {
            if (buffer.prependByte(static_cast<std::uint8_t>(rest & 0xFF)) != 0) {
                return -1;
            }
            rest >>= 8;
            ++count;
        }
        if (buffer.prependByte(static_cast<std::uint8_t>(0x80 | count)) != 0) {
            return -1;
        }
    }
    return buffer.prependByte(tag);
}

int writeInteger(std::uint8_t tag, std::int32_t value, PacketBuffer& buffer) {
    int count = 0;
    for (;;) {
        if (buffer.prependByte(static_cast<std::uint8_t>(value & 0xFF)) != 0) {
            return -1;
        }
        ++count;
        if (value >= -128 && value <= 127) {
            break;
        }
        value >>= 8; // arithmetic: keeps the sign byte that minimal form needs
    }
    return writeLengthAndTag(tag, count, buffer);
}

int writeOctets(std::uint8_t tag, const void* bytes, int length, PacketBuffer& buffer) {
    if (buffer.prependBytes(bytes, length) != 0) {
        return -1;
    }
    return writeLengthAndTag(tag, length, buffer);
}

int writeString(std::uint8_t tag, const char* text, PacketBuffer& buffer) {
    const std::size_t length = text != nullptr ? std::strlen(text) : 0;
    if (length > static_cast<std::size_t>(kDatagramCapacity)) {
        return -1;
    }
    return writeOctets(tag, text, static_cast<int>(length), buffer);
}

int writeOid(const Oid& oid, PacketBuffer& buffer) {
    if (oid.count < 2 || oid.count > kMaxOidArcs) {
        return -1;
    }
    const int mark = buffer.getCursor();
    for (int i = oid.count - 1; i >= 1; --i) {
        std::uint32_t v = i == 1 ? oid.arcs[1] + 40u * oid.arcs[0] : oid.arcs[i];
        if (buffer.prependByte(static_cast<std::uint8_t>(v & 0x7F)) != 0) {
            return -1;
        }
        while (v >= 128) {
            v >>= 7;
            if (buffer.prependByte(static_cast<std::uint8_t>((v & 0x7F) | 0x80)) != 0) {
                return -1;
            }
        }
    }
    return writeLengthAndTag(ber::kObjectId, mark - buffer.getCursor(), buffer);
}

} // namespace velmora::protocol
