// The TCP-side record stream: lengths, and reassembly however the bytes are cut into receives.
#include "ovix/wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace velmora::ovix {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes record(std::size_t n, std::uint8_t fill) {
    Bytes r(kLengthSize + n, fill);
    put_length(r.data(), n);
    return r;
}

// Feeds `stream` in pieces of the given sizes (cycled) and collects every frame.
std::vector<Bytes> reassemble(const Bytes& stream, const std::vector<std::size_t>& pieces) {
    FrameStream frames;
    std::vector<Bytes> out;
    std::size_t at = 0;
    std::size_t i = 0;
    while (at < stream.size()) {
        std::size_t room = 0;
        std::uint8_t* space = frames.space(&room);
        if (room == 0) {
            ADD_FAILURE() << "no room with " << frames.pending() << " bytes pending";
            break;
        }
        const std::size_t n = std::min({pieces[i++ % pieces.size()], stream.size() - at, room});
        std::memcpy(space, stream.data() + at, n);
        frames.commit(n);
        at += n;
        const std::uint8_t* frame;
        std::size_t length;
        while (frames.next(&frame, &length)) {
            out.emplace_back(frame, frame + length);
        }
    }
    EXPECT_EQ(frames.pending(), 0u);
    return out;
}

TEST(Wire, LengthIsBigEndian) {
    std::uint8_t at[2];
    put_length(at, 60);
    EXPECT_EQ(at[0], 0x00);
    EXPECT_EQ(at[1], 0x3C);
    put_length(at, 65535);
    EXPECT_EQ(at[0], 0xFF);
    EXPECT_EQ(at[1], 0xFF);
    put_length(at, 0x1234);
    EXPECT_EQ(get_length(at), 0x1234u);
}

TEST(FrameStream, ReassemblesRecordsCutAnywhere) {
    const std::size_t sizes[] = {60, 0, 1514, 1, 65535, 14, 9000};
    Bytes stream;
    std::vector<Bytes> expected;
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const Bytes r = record(sizes[i], static_cast<std::uint8_t>(0xA0 + i));
        stream.insert(stream.end(), r.begin(), r.end());
        expected.emplace_back(sizes[i], static_cast<std::uint8_t>(0xA0 + i));
    }
    // One byte at a time (a length split over two receives), odd sizes, and all at once.
    const std::vector<std::vector<std::size_t>> cuts = {{1},    {2},     {3},     {61, 7},
                                                        {1000}, {65537}, {131072}};
    for (const auto& pieces : cuts) {
        SCOPED_TRACE(pieces.front());
        EXPECT_EQ(reassemble(stream, pieces), expected);
    }
}

TEST(FrameStream, LongRunsOfRandomRecordsKeepTheirBoundaries) {
    std::mt19937 random(7);
    Bytes stream;
    std::vector<Bytes> expected;
    for (int i = 0; i < 300; ++i) {
        const std::size_t n = random() % 4 == 0 ? random() % 65536 : random() % 1600;
        Bytes frame(n);
        for (auto& b : frame) {
            b = static_cast<std::uint8_t>(random());
        }
        Bytes r(kLengthSize);
        put_length(r.data(), n);
        r.insert(r.end(), frame.begin(), frame.end());
        stream.insert(stream.end(), r.begin(), r.end());
        expected.push_back(std::move(frame));
    }
    std::vector<std::size_t> pieces;
    for (int i = 0; i < 50; ++i) {
        pieces.push_back(1 + random() % 140000);
    }
    EXPECT_EQ(reassemble(stream, pieces), expected);
}

TEST(FrameStream, IncompleteRecordStaysPending) {
    FrameStream frames;
    const Bytes r = record(100, 1);
    std::size_t room = 0;
    std::memcpy(frames.space(&room), r.data(), 50);
    frames.commit(50);
    const std::uint8_t* frame;
    std::size_t length;
    EXPECT_FALSE(frames.next(&frame, &length));
    EXPECT_EQ(frames.pending(), 50u);
}

} // namespace
} // namespace velmora::ovix
