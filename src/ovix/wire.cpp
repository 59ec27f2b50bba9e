#include "ovix/wire.h"

#include <cstring>

namespace velmora::ovix {

FrameStream::FrameStream() : buffer_(new std::uint8_t[kBufferSize]) {}

std::uint8_t* FrameStream::space(std::size_t* size) {
    // A partial record is shorter than the longest record, so moving it to the front always
    // leaves room to complete it: the buffer never fills up without a complete record in it.
    if (begin_ == end_) {
        begin_ = end_ = 0;
    } else if (kBufferSize - end_ < kMaxRecord) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    *size = kBufferSize - end_;
    return buffer_.get() + end_;
}

void FrameStream::commit(std::size_t n) {
    if (n > kBufferSize - end_) {
        n = kBufferSize - end_;
    }
    end_ += n;
}

bool FrameStream::next(const std::uint8_t** frame, std::size_t* length) {
    const std::size_t available = end_ - begin_;
    if (available < kLengthSize) {
        return false;
    }
    const std::size_t n = get_length(buffer_.get() + begin_);
    if (available - kLengthSize < n) {
        return false;
    }
    *frame = buffer_.get() + begin_ + kLengthSize;
    *length = n;
    begin_ += kLengthSize + n;
    return true;
}

} // namespace velmora::ovix
