#include "protocol/ber.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace velmora::protocol;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Runs `write` into a fresh buffer and returns what it prepended.
template <typename Write> Bytes encoded(Write write) {
    auto buffer = PacketBuffer::create(kDatagramCapacity);
    buffer->setCursor(kDatagramCapacity);
    EXPECT_EQ(write(*buffer), 0);
    return Bytes(buffer->data(), buffer->data() + buffer->remaining());
}

// An exactly sized buffer holding `bytes`, so ASan sees any read past them.
std::unique_ptr<PacketBuffer> holding(const Bytes& bytes) {
    auto buffer = PacketBuffer::create(static_cast<int>(bytes.size()));
    if (!bytes.empty()) {
        std::memcpy(buffer->start(), bytes.data(), bytes.size());
    }
    return buffer;
}

Oid attributeTemplate() {
    Oid oid;
    const std::uint32_t arcs[] = {1, 3, 6, 1, 4, 1, 4491, 8888, 1, 61440, 61456, 0};
    std::memcpy(oid.arcs, arcs, sizeof arcs);
    oid.count = 12;
    return oid;
}

// Length byte, then 1.3 and `more` further one-byte arcs.
Bytes oidContent(int more) {
    Bytes content = {static_cast<std::uint8_t>(more + 1), 0x2B};
    content.insert(content.end(), static_cast<std::size_t>(more), 0x01);
    return content;
}

} // namespace

TEST(Ber, LengthsEncodeAndReadBack) {
    const struct {
        int length;
        Bytes bytes;
    } cases[] = {{0, {0x00}},
                 {127, {0x7F}},
                 {128, {0x81, 0x80}},
                 {255, {0x81, 0xFF}},
                 {256, {0x82, 0x01, 0x00}},
                 {300, {0x82, 0x01, 0x2C}},
                 {65535, {0x82, 0xFF, 0xFF}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        Bytes expected = c.bytes;
        expected.insert(expected.begin(), 0x04);
        EXPECT_EQ(encoded([&](PacketBuffer& b) { return writeLengthAndTag(0x04, c.length, b); }),
                  expected);
        // Reading needs the announced content to be there.
        Bytes stream = expected;
        stream.resize(stream.size() + static_cast<std::size_t>(c.length));
        auto buffer = holding(stream);
        std::uint8_t tag = 0;
        int length = -1;
        ASSERT_EQ(readTagAndLength(&tag, &length, *buffer), 0);
        EXPECT_EQ(tag, 0x04);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(buffer->remaining(), static_cast<unsigned>(c.length));
    }
}

TEST(Ber, LengthReadRules) {
    const struct {
        const char* name;
        Bytes bytes;
        int result;
        int length;
    } cases[] = {
        {"0x80 without length bytes is 0", {0x80}, 0, 0},
        {"past the end", {0x05, 1, 2, 3, 4}, -1, 0},
        {"long form past the end", {0x82, 0x01, 0x00, 1}, -1, 0},
        {"missing length byte", {0x82, 0x01}, -1, 0},
        {"empty", {}, -1, 0},
        {"leading zero bytes", {0x84, 0, 0, 0, 2, 7, 7}, 0, 2},
        // Five length bytes must not wrap round to a small length.
        {"wider than 32 bits", {0x85, 0x01, 0, 0, 0, 0x02, 7, 7}, -1, 0},
        {"0xFFFFFFFF", {0x84, 0xFF, 0xFF, 0xFF, 0xFF, 7}, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto buffer = holding(c.bytes);
        int length = 0;
        EXPECT_EQ(readLength(&length, *buffer), c.result);
        if (c.result == 0) {
            EXPECT_EQ(length, c.length);
        }
    }
}

TEST(Ber, IntegersUseMinimalFormAndReadBack) {
    const struct {
        std::int32_t value;
        Bytes bytes;
    } cases[] = {
        {0, {0x02, 0x01, 0x00}},
        {-1, {0x02, 0x01, 0xFF}},
        {127, {0x02, 0x01, 0x7F}},
        {128, {0x02, 0x02, 0x00, 0x80}},
        {-128, {0x02, 0x01, 0x80}},
        {-129, {0x02, 0x02, 0xFF, 0x7F}},
        {255, {0x02, 0x02, 0x00, 0xFF}},
        {256, {0x02, 0x02, 0x01, 0x00}},
        {32767, {0x02, 0x02, 0x7F, 0xFF}},
        {-32768, {0x02, 0x02, 0x80, 0x00}},
        {0x7FFFFFFF, {0x02, 0x04, 0x7F, 0xFF, 0xFF, 0xFF}},
        {INT32_MIN, {0x02, 0x04, 0x80, 0x00, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(encoded([&](PacketBuffer& b) { return writeInteger(0x02, c.value, b); }),
                  c.bytes);
        auto buffer = holding(c.bytes);
        std::uint8_t tag;
        std::int32_t value = 12345;
        ASSERT_EQ(readTag(&tag, *buffer), 0);
        ASSERT_EQ(readInteger(&value, *buffer), 0);
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(buffer->remaining(), 0u);
    }
}

TEST(Ber, IntegerContentRules) {
    const struct {
        Bytes content; // length and content bytes
        std::int32_t value;
    } cases[] = {
        {{0x01, 0x80}, -128},
        {{0x02, 0x00, 0x80}, 128},
        {{0x00}, 0},
        {{0x05, 0x01, 0x12, 0x34, 0x56, 0x78}, 0x12345678}, // keeps the last 4 bytes
    };
    for (const auto& c : cases) {
        auto buffer = holding(c.content);
        std::int32_t value = 99;
        ASSERT_EQ(readInteger(&value, *buffer), 0);
        EXPECT_EQ(value, c.value);
    }
    auto truncated = holding({0x02, 0x01});
    std::int32_t value;
    EXPECT_EQ(readInteger(&value, *truncated), -1);
}

TEST(Ber, AttributeOidGoldenBytesAndRoundTrip) {
    const Bytes golden = {0x06, 0x11, 0x2B, 0x06, 0x01, 0x04, 0x01, 0xA3, 0x0B, 0xC5,
                          0x38, 0x01, 0x83, 0xE0, 0x00, 0x83, 0xE0, 0x10, 0x00};
    const Oid oid = attributeTemplate();
    EXPECT_EQ(encoded([&](PacketBuffer& b) { return writeOid(oid, b); }), golden);

    auto buffer = holding(golden);
    std::uint8_t tag;
    ASSERT_EQ(readTag(&tag, *buffer), 0);
    Oid read;
    ASSERT_EQ(readOid(&read, kMaxOidArcs, *buffer), 0);
    EXPECT_EQ(read, oid);
    EXPECT_EQ(buffer->remaining(), 0u);
}

TEST(Ber, OidLimits) {
    Oid one;
    one.count = 1;
    one.arcs[0] = 1;
    auto buffer = PacketBuffer::create(16);
    buffer->setCursor(16);
    EXPECT_EQ(writeOid(one, *buffer), -1);
    EXPECT_EQ(buffer->getCursor(), 16);

    const struct {
        const char* name;
        Bytes content;
        int capacity;
        int result;
        int count;
    } cases[] = {
        {"33 arcs", oidContent(31), kMaxOidArcs, -1, kMaxOidArcs},
        {"exactly 32 arcs", oidContent(30), kMaxOidArcs, 0, 32},
        {"empty", {0x00}, kMaxOidArcs, -1, 0},
        {"capacity 1", {0x01, 0x2B}, 1, -1, 0},
        {"continuation at the end", {0x02, 0x2B, 0x83}, kMaxOidArcs, -1, 2},
        {"continuation past the content", {0x02, 0x2B, 0x83, 0x00}, kMaxOidArcs, -1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto in = holding(c.content);
        Oid oid;
        EXPECT_EQ(readOid(&oid, c.capacity, *in), c.result);
        EXPECT_EQ(oid.count, c.count);
    }
}

TEST(Ber, OctetStringsAndFullBuffers) {
    EXPECT_EQ(encoded([](PacketBuffer& b) { return writeString(0x04, "ab:", b); }),
              (Bytes{0x04, 0x03, 'a', 'b', ':'}));
    EXPECT_EQ(encoded([](PacketBuffer& b) { return writeString(0x04, "", b); }),
              (Bytes{0x04, 0x00}));

    auto in = holding({0x03, 'x', 0, 'z'});
    std::unique_ptr<char[]> text;
    int length = -1;
    ASSERT_EQ(readOctetString(&text, &length, *in), 0);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(std::memcmp(text.get(), "x\0z\0", 4), 0);

    // A write that does not fit fails; the buffer keeps what it already holds.
    auto full = PacketBuffer::create(2);
    full->setCursor(2);
    EXPECT_EQ(writeInteger(0x02, 0x1234, *full), -1);
    EXPECT_EQ(writeLengthAndTag(0x30, 5, *full), -1);
    EXPECT_EQ(full->getCursor(), 0);
    EXPECT_EQ(writeLengthAndTag(0x30, 5, *full), -1);
    EXPECT_EQ(full->getCursor(), 0);
}
