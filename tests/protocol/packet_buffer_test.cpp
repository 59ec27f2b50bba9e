#include "protocol/packet_buffer.h"

#include <gtest/gtest.h>

#include <cstring>

using velmora::protocol::PacketBuffer;

TEST(PacketBuffer, PrependIntoFullBufferFailsWithoutMovingCursor) {
    auto buffer = PacketBuffer::create(2);
    ASSERT_EQ(buffer->setCursor(2), 0);
    EXPECT_EQ(buffer->prependByte(0xAA), 0);
    EXPECT_EQ(buffer->prependByte(0xBB), 0);
    EXPECT_EQ(buffer->prependByte(0xCC), -1);
    EXPECT_EQ(buffer->getCursor(), 0);
    const std::uint8_t two[2] = {1, 2};
    EXPECT_EQ(buffer->prependBytes(two, 2), -1);
    EXPECT_EQ(buffer->data()[0], 0xBB);
    EXPECT_EQ(buffer->data()[1], 0xAA);
}

TEST(PacketBuffer, BoundsOfCursorEndSkipAndReads) {
    auto buffer = PacketBuffer::create(8);
    EXPECT_EQ(buffer->setCursor(9), -1);
    EXPECT_EQ(buffer->setCursor(-1), -1);
    EXPECT_EQ(buffer->setEnd(4), 0);
    EXPECT_EQ(buffer->setEnd(5), -1); // only shrinks
    EXPECT_EQ(buffer->skip(5), -1);
    EXPECT_EQ(buffer->skip(-1), -1);
    EXPECT_EQ(buffer->skip(4), 0);
    EXPECT_EQ(buffer->remaining(), 0u);
    std::uint8_t byte;
    EXPECT_EQ(buffer->readBytes(&byte, 1), -1);
    EXPECT_EQ(buffer->setEnd(3), -1); // below the cursor
}

TEST(PacketBuffer, ReadCStringNeedsTerminatorInsideContent) {
    auto buffer = PacketBuffer::create(6);
    const char text[] = {'a', 'b', 0, 'c', 'd', 'e'};
    std::memcpy(buffer->start(), text, sizeof text);
    std::unique_ptr<char[]> out;
    ASSERT_EQ(buffer->readCString(&out), 0);
    EXPECT_STREQ(out.get(), "ab");
    EXPECT_EQ(buffer->getCursor(), 3);
    EXPECT_EQ(buffer->readCString(&out), -1); // "cde" has no terminator
    EXPECT_EQ(buffer->getCursor(), 3);
}
