#include "protocol/pipe_header.h"

#include <gtest/gtest.h>

#include <cstring>

namespace velmora::protocol {
namespace {

unsigned be16(const std::uint8_t* at) {
    return (at[0] << 8) | at[1];
}

TEST(PipeHeader, ChecksumMatchesKnownVector) {
    // The classic example header (checksum field zero) sums to 0xB861.
    const std::uint8_t header[20] = {0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                                     0x00, 0x00, 0xC0, 0xA8, 0x00, 0x01, 0xC0, 0xA8, 0x00, 0xC7};
    EXPECT_EQ(internetChecksum(header, sizeof header), 0xB861);
    const std::uint8_t odd[3] = {0x01, 0x02, 0x03};
    EXPECT_EQ(internetChecksum(odd, 3), static_cast<std::uint16_t>(~(0x0102 + 0x0300)));
}

TEST(PipeHeader, FieldsForPayloadLengths) {
    const std::uint8_t targetBytes[4] = {198, 18, 0, 2};
    std::uint32_t target;
    std::memcpy(&target, targetBytes, 4);
    struct Case {
        int payload;
        unsigned total;
        unsigned udp;
    } cases[] = {{2048, 2076, 2056}, {0, 28, 8}, {17, 45, 25}};
    for (const Case& c : cases) {
        std::uint8_t h[kPipeHeaderSize];
        buildPipeHeader(h, c.payload, 0xBEEF, target);
        EXPECT_EQ(h[0], 0x45);
        EXPECT_EQ(h[1], 0);
        EXPECT_EQ(be16(h + 2), c.total);
        EXPECT_EQ(be16(h + 4), 0xBEEFu);
        EXPECT_EQ(be16(h + 6), 0u);
        EXPECT_EQ(h[8], 16);
        EXPECT_EQ(h[9], 17);
        EXPECT_EQ(std::memcmp(h + 12, "\0\0\0\0", 4), 0);
        EXPECT_EQ(std::memcmp(h + 16, targetBytes, 4), 0);
        EXPECT_EQ(be16(h + 20), 8888u);
        EXPECT_EQ(be16(h + 22), 8888u);
        EXPECT_EQ(be16(h + 24), c.udp);
        EXPECT_EQ(be16(h + 26), 0u);
        // A correct header checksums to zero with its checksum in place.
        EXPECT_EQ(internetChecksum(h, 20), 0);
        std::uint32_t source = 1;
        std::uint16_t port = 0;
        EXPECT_TRUE(checkPipeHeader(h, kPipeHeaderSize, &source, &port));
        EXPECT_EQ(source, 0u);
        EXPECT_EQ(port, 8888);
    }
}

TEST(PipeHeader, RefusesShortOrForeignPackets) {
    std::uint8_t good[40];
    buildPipeHeader(good, 12, 1, 0x0200A8C0u);
    std::memcpy(good + 12, "\x0A\x00\x00\x07", 4);
    std::uint32_t source = 0;
    std::uint16_t port = 0;
    ASSERT_TRUE(checkPipeHeader(good, 40, &source, &port));
    EXPECT_EQ(std::memcmp(&source, "\x0A\x00\x00\x07", 4), 0);

    std::uint8_t bad[40];
    std::memcpy(bad, good, sizeof bad);
    EXPECT_FALSE(checkPipeHeader(bad, 27, &source, &port));
    bad[0] = 0x46;
    EXPECT_FALSE(checkPipeHeader(bad, 40, &source, &port));
    std::memcpy(bad, good, sizeof bad);
    bad[9] = 6;
    EXPECT_FALSE(checkPipeHeader(bad, 40, &source, &port));
    EXPECT_TRUE(checkPipeHeader(good, 28, &source, &port)); // an empty payload is still a packet
}

} // namespace
} // namespace velmora::protocol
