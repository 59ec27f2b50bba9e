// Fixed-capacity byte buffer for appliance datagrams: filled from its end towards its start when a
// message is built (so every length is known when written), read from its start when parsed.
// Invariant: 0 <= cursor <= end <= capacity; the content is [cursor, end).
#pragma once
#include <cstdint>
#include <memory>

namespace velmora::protocol {

inline constexpr int kDatagramCapacity = 2048;

class PacketBuffer {
public:
    // Never null unless the object itself cannot be allocated; if the bytes cannot be, end is 0.
    static std::unique_ptr<PacketBuffer> create(int capacity);

    PacketBuffer(const PacketBuffer&) = delete;
    PacketBuffer& operator=(const PacketBuffer&) = delete;

    int capacity() const { return capacity_; }
    unsigned remaining() const { return static_cast<unsigned>(end_ - cursor_); }
    int getCursor() const { return cursor_; }
    int getEnd() const { return end_; }
    int setCursor(int index);
    int setEnd(int length); // only shrinks
    int skip(int n);
    int find(std::uint8_t value) const; // distance from the cursor, or -1

    int prependByte(std::uint8_t value);
    int prependBytes(const void* bytes, int length);
    int readBytes(void* destination, int length);
    // Reads up to and including the next zero byte into a new string the caller owns.
    int readCString(std::unique_ptr<char[]>* out);

    std::uint8_t* data() { return bytes_.get() + cursor_; }
    const std::uint8_t* data() const { return bytes_.get() + cursor_; }
    std::uint8_t* start() { return bytes_.get(); }

private:
    PacketBuffer() = default;
    int capacity_ = 0;
    int end_ = 0;
    int cursor_ = 0;
    std::unique_ptr<std::uint8_t[]> bytes_;
};

} // namespace velmora::protocol
