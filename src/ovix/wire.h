// The TCP-side wire format, the same both ways: records of a 2-byte big-endian frame length n
// followed by the n bytes of the Ethernet frame. No greeting, acknowledgement or keep-alive.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora::ovix {

inline constexpr std::size_t kBufferSize = 131072;  // each receive buffer
inline constexpr std::size_t kMaxWireFrame = 65535; // what the 2-byte length can describe
inline constexpr std::size_t kLengthSize = 2;
inline constexpr std::size_t kMaxRecord = kLengthSize + kMaxWireFrame;

inline void put_length(std::uint8_t* at, std::size_t n) {
    at[0] = static_cast<std::uint8_t>(n >> 8);
    at[1] = static_cast<std::uint8_t>(n & 0xFF);
}

inline std::size_t get_length(const std::uint8_t* at) {
    return (static_cast<std::size_t>(at[0]) << 8) | at[1];
}

// Reassembles records from a byte stream read in pieces of any size (several records per
// receive, or a record split over many). Receive into space()/space_size(), then commit() the
// count and take every complete frame with next() before receiving again.
class FrameStream {
public:
    FrameStream();

    // Where the next receive goes and how much it may take (never 0).
    std::uint8_t* space(std::size_t* size);
    void commit(std::size_t n);

    // The next complete frame; it stays valid until space() is called again.
    bool next(const std::uint8_t** frame, std::size_t* length);

    // Bytes received but not yet part of a complete record.
    std::size_t pending() const { return end_ - begin_; }

private:
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

} // namespace velmora::ovix
