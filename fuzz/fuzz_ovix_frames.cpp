// The TCP-side record stream of ovix as a peer may send it: arbitrary bytes cut into receives of
// arbitrary sizes. The first bytes choose the cut sizes; the rest is the stream. Whatever the
// cuts, the frames taken must be exactly those a whole-stream reading finds, and the bytes left
// over exactly the incomplete tail.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "ovix/wire.h"

using namespace velmora::ovix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || size > 4 * kBufferSize) {
        return 0;
    }
    // Cut sizes: four seeds, each scaled so that both tiny and buffer-sized receives happen.
    std::size_t cuts[4];
    for (int i = 0; i < 4; ++i) {
        const unsigned v = data[i];
        cuts[i] = (v & 0x80) != 0 ? 1 + (v & 0x7F) * 1100u : 1 + (v & 0x7F);
    }
    data += 4;
    size -= 4;

    // Reference: read the whole stream at once.
    std::vector<std::pair<std::size_t, std::size_t>> expected; // offset, length
    std::size_t at = 0;
    while (size - at >= kLengthSize) {
        const std::size_t n = get_length(data + at);
        if (size - at - kLengthSize < n) {
            break;
        }
        expected.emplace_back(at + kLengthSize, n);
        at += kLengthSize + n;
    }
    const std::size_t tail = size - at;

    FrameStream frames;
    std::size_t fed = 0;
    std::size_t taken = 0;
    for (int round = 0; fed < size; ++round) {
        std::size_t room = 0;
        std::uint8_t* space = frames.space(&room);
        if (room == 0) {
            std::abort();
        }
        std::size_t n = cuts[round % 4];
        if (n > room) {
            n = room;
        }
        if (n > size - fed) {
            n = size - fed;
        }
        std::memcpy(space, data + fed, n);
        frames.commit(n);
        fed += n;
        const std::uint8_t* frame;
        std::size_t length;
        while (frames.next(&frame, &length)) {
            if (taken >= expected.size() || length != expected[taken].second ||
                std::memcmp(frame, data + expected[taken].first, length) != 0) {
                std::abort();
            }
            ++taken;
        }
    }
    if (taken != expected.size() || frames.pending() != tail) {
        std::abort();
    }
    return 0;
}
