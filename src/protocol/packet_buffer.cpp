#include "protocol/packet_buffer.h"

#include <cstring>
#include <new>

namespace velmora::protocol {

std::unique_ptr<PacketBuffer> PacketBuffer::create(int capacity) {
    std::unique_ptr<PacketBuffer> buffer(new (std::nothrow) PacketBuffer);
    if (!buffer || capacity < 0) {
        return buffer;
    }
    buffer->bytes_.reset(new (std::nothrow) std::uint8_t[capacity > 0 ? capacity : 1]);
    if (buffer->bytes_) {
        buffer->capacity_ = capacity;
        buffer->end_ = capacity;
    }
    return buffer;
}

int PacketBuffer::setCursor(int index) {
    if (index < 0 || index > end_) {
        return -1;
    }
    cursor_ = index;
    return 0;
}

int PacketBuffer::setEnd(int length) {
    if (length < 0 || length > end_ || length < cursor_) {
        return -1;
    }
    end_ = length;
    return 0;
}

int PacketBuffer::skip(int n) {
    const long long target = static_cast<long long>(cursor_) + n;
    if (target < 0 || target > end_) {
        return -1;
    }
    cursor_ = static_cast<int>(target);
    return 0;
}

int PacketBuffer::find(std::uint8_t value) const {
    const void* hit = std::memchr(bytes_.get() + cursor_, value, remaining());
    if (hit == nullptr) {
        return -1;
    }
    return static_cast<int>(static_cast<const std::uint8_t*>(hit) - (bytes_.get() + cursor_));
}

int PacketBuffer::prependByte(std::uint8_t value) {
    if (cursor_ == 0) {
        return -1;
    }
    bytes_[--cursor_] = value;
    return 0;
}

int PacketBuffer::prependBytes(const void* bytes, int length) {
    if (length < 0 || length > cursor_) {
        return -1;
    }
    cursor_ -= length;
    if (length > 0) {
        std::memcpy(bytes_.get() + cursor_, bytes, static_cast<std::size_t>(length));
    }
    return 0;
}

int PacketBuffer::readBytes(void* destination, int length) {
    if (length < 0 || static_cast<unsigned>(length) > remaining()) {
        return -1;
    }
    if (length > 0) {
        std::memcpy(destination, bytes_.get() + cursor_, static_cast<std::size_t>(length));
    }
    cursor_ += length;
    return 0;
}

int PacketBuffer::readCString(std::unique_ptr<char[]>* out) {
    const int n = find(0);
    if (n < 0) {
        return -1;
    }
    std::unique_ptr<char[]> copy(new (std::nothrow) char[static_cast<std::size_t>(n) + 1]);
    if (!copy || readBytes(copy.get(), n + 1) != 0) {
        return -1;
    }
    *out = std::move(copy);
    return 0;
}

} // namespace velmora::protocol
