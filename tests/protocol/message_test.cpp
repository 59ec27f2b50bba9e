#include "protocol/message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace velmora::protocol;

namespace {

using Bytes = std::vector<std::uint8_t>;

const ApplianceMac kMac{{0x00, 0x0C, 0x29, 0x12, 0x34, 0x56}};

Bytes built(Message& message) {
    std::unique_ptr<PacketBuffer> buffer;
    EXPECT_EQ(message.build(&buffer), kRawOk);
    if (!buffer) {
        return {};
    }
    EXPECT_EQ(buffer->getEnd(), kDatagramCapacity);
    return Bytes(buffer->data(), buffer->data() + buffer->remaining());
}

// Parses from an exactly sized buffer, so ASan flags any read past the datagram.
int parse(const Bytes& bytes, std::unique_ptr<Message>* out) {
    return Message::parse(bytes.data(), static_cast<int>(bytes.size()), 0x0200A8C0u, out);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const Bytes kImcr = {'I', 'M', 'C', 'R'};
const Bytes kMacBytes = {0x00, 0x0C, 0x29, 0x12, 0x34, 0x56};
// The varbind of the query of 0xF000/0xF010 with a NULL value.
const Bytes kQueryVarbind = {0x30, 0x15, 0x06, 0x11, 0x2B, 0x06, 0x01, 0x04, 0x01, 0xA3, 0x0B, 0xC5,
                             0x38, 0x01, 0x83, 0xE0, 0x00, 0x83, 0xE0, 0x10, 0x00, 0x05, 0x00};

// A reply that uses every optional field and every value type.
Message fullReply() {
    Message m;
    m.setKind(MessageKind::kReply);
    m.setMac(kMac);
    m.setFlags(flags::kDirected | flags::kIdentityPdu);
    m.setWordA({1, 2, 3, 4});
    m.setWordB({5, 6, 7, 8});
    m.setWordC({9, 10, 11, 12});
    m.setNumberD(0xDEADBEEF);
    m.setString1("s1");
    m.setDeviceName("velmora-appliance");
    m.setProductName("Product X");
    m.setFirmware("7.4.0");
    m.setString5("");
    m.setText("pc-17");
    std::uint8_t key[16];
    std::uint8_t block[128];
    for (int i = 0; i < 128; ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7);
        key[i % 16] = static_cast<std::uint8_t>(0xA0 + i % 16);
    }
    m.setHostKey(key);
    m.setBlock128(block);
    m.setTimeStamp(1796860800u);
    m.setPduType(pdu::kResponse);
    m.setCommunity("", "");
    m.setRequestId(300);
    m.setErrorStatus(0);
    m.setErrorIndex(-1);
    EXPECT_EQ(m.addOctetsVarbind(0xF000, 0xF010, "ready", 5), kRawOk);
    EXPECT_EQ(m.addIntegerVarbind(0xF000, 0xF090, value::kInteger, -129), kRawOk);
    EXPECT_EQ(m.addIntegerVarbind(0x0200, 0x0280, value::kTimeTicks, 0x7FFFFFFF), kRawOk);
    EXPECT_EQ(m.addNullVarbind(0x8800, 0x0320), kRawOk);
    const std::uint8_t address[4] = {198, 18, 0, 2};
    EXPECT_EQ(m.addVarbind(0xF000, 0xF011, value::kIpAddress, address, 4), kRawOk);
    const Oid oid = attributeOid(1, 2);
    EXPECT_EQ(m.addVarbind(0xF000, 0xF012, value::kObjectId, &oid, 0), kRawOk);
    return m;
}

} // namespace

TEST(Message, StatusRequestGoldenBytes) {
    Message request;
    request.setMac(kMac);
    request.setFlags(flags::kDeviceName | flags::kProductName | flags::kFirmware);
    EXPECT_EQ(built(request), concat({{'I', 'M', 'C', 'C', 0x00, 0x00, 0x03, 0x80}, kMacBytes}));
}

TEST(Message, AttributeQueryGoldenBytes) {
    Message query;
    query.setPduType(pdu::kGet);
    query.setCommunity("", "");
    query.setRequestId(5);
    ASSERT_EQ(query.addNullVarbind(0xF000, 0xF010), kRawOk);
    const Bytes expected = concat({{'I', 'M', 'C', 'C', 0x80, 0x00, 0x00, 0x00},
                                   {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                   {0x30, 0x2A, 0x02, 0x01, 0x00, 0x04, 0x01, ':', 0xA0, 0x22},
                                   {0x02, 0x01, 0x05, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00},
                                   {0x30, 0x17},
                                   kQueryVarbind});
    EXPECT_EQ(built(query), expected);
    EXPECT_EQ(query.flags(), flags::kPdu);
}

TEST(Message, RequestsWriteActionRowsOnlyWithFlag1) {
    Message shutdown;
    shutdown.setMac(kMac);
    shutdown.setFlags(flags::kAction | flags::kWordA | flags::kNumberD);
    shutdown.setDeviceName("dev");
    shutdown.setProductName("never written by a request");
    Bytes expected = concat({{'I', 'M', 'C', 'C', 0x00, 0x00, 0x01, 0xA5},
                             kMacBytes,
                             {0, 0, 0, 0},
                             {0, 0, 0, 0},
                             {'d', 'e', 'v', 0}});
    EXPECT_EQ(built(shutdown), expected);
    std::unique_ptr<Message> parsed;
    ASSERT_EQ(parse(expected, &parsed), kRawOk);
    EXPECT_STREQ(parsed->deviceName(), "dev");
    EXPECT_EQ(parsed->productName(), nullptr);

    // Without flag 0x1 the same field flags write nothing.
    Message status;
    status.setMac(kMac);
    status.setFlags(flags::kWordA | flags::kDeviceName);
    status.setDeviceName("dev");
    EXPECT_EQ(built(status).size(), 14u);
}

TEST(Message, FullReplyRoundTrip) {
    Message reply = fullReply();
    const Bytes bytes = built(reply);
    std::unique_ptr<Message> parsed;
    ASSERT_EQ(parse(bytes, &parsed), kRawOk);
    EXPECT_TRUE(parsed->isReply());
    EXPECT_EQ(parsed->mac(), kMac);
    EXPECT_EQ(parsed->flags(), reply.flags());
    EXPECT_EQ(parsed->sourceAddress(), 0x0200A8C0u);
    EXPECT_EQ(parsed->wordB(), (std::array<std::uint8_t, 4>{5, 6, 7, 8}));
    EXPECT_EQ(parsed->numberD(), 0xDEADBEEFu);
    EXPECT_STREQ(parsed->string1(), "s1");
    EXPECT_STREQ(parsed->deviceName(), "velmora-appliance");
    EXPECT_STREQ(parsed->productName(), "Product X");
    EXPECT_STREQ(parsed->firmware(), "7.4.0");
    EXPECT_STREQ(parsed->string5(), "");
    EXPECT_STREQ(parsed->text(), "pc-17");
    ASSERT_NE(parsed->hostKey(), nullptr);
    EXPECT_EQ(std::memcmp(parsed->hostKey(), reply.hostKey(), 16), 0);
    ASSERT_NE(parsed->block128(), nullptr);
    EXPECT_EQ(std::memcmp(parsed->block128(), reply.block128(), 128), 0);
    EXPECT_EQ(parsed->timeStamp(), 1796860800u);
    ASSERT_NE(parsed->pduHeader(), nullptr);
    EXPECT_EQ(parsed->pduHeader()->type, pdu::kResponse);
    EXPECT_EQ(parsed->pduHeader()->community, ":");
    EXPECT_EQ(parsed->pduHeader()->requestId, 300);
    EXPECT_EQ(parsed->pduHeader()->errorIndex, -1);
    ASSERT_EQ(parsed->varbinds().size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        const Varbind& a = reply.varbinds()[i];
        const Varbind& b = parsed->varbinds()[i];
        EXPECT_EQ(a.name, b.name);
        EXPECT_EQ(a.type, b.type);
        EXPECT_EQ(a.integer, b.integer);
        EXPECT_EQ(a.octets, b.octets);
        EXPECT_EQ(a.ipv4, b.ipv4);
    }
    EXPECT_EQ(parsed->varbinds()[5].oid, attributeOid(1, 2));
    std::uint16_t group = 0, id = 0;
    ASSERT_TRUE(attributeFromOid(parsed->varbinds()[1].name, &group, &id));
    EXPECT_EQ(group, 0xF000);
    EXPECT_EQ(id, 0xF090);
    // Building what was parsed gives the same bytes again.
    EXPECT_EQ(built(*parsed), bytes);
}

TEST(Message, IdentityRequestAndNotificationRoundTrip) {
    Message identity;
    identity.setMac(kMac);
    identity.setText("host");
    std::uint8_t key[16] = {1, 2, 3};
    std::uint8_t block[128] = {9};
    identity.setHostKey(key);
    identity.setBlock128(block);
    identity.setTimeStamp(42);
    const Bytes bytes = built(identity);
    EXPECT_EQ(bytes.size(), 14u + 5 + 16 + 128 + 4);
    EXPECT_EQ(identity.flags(), 0x000F0000u);
    std::unique_ptr<Message> parsed;
    ASSERT_EQ(parse(bytes, &parsed), kRawOk);
    EXPECT_TRUE(parsed->isRequest());
    EXPECT_STREQ(parsed->text(), "host");
    EXPECT_EQ(parsed->hostKey()[2], 3);
    EXPECT_EQ(parsed->timeStamp(), 42u);

    Message notification;
    notification.setKind(MessageKind::kNotification);
    notification.setMac(kMac);
    ASSERT_EQ(parse(built(notification), &parsed), kRawOk);
    EXPECT_TRUE(parsed->isNotification());
    EXPECT_FALSE(parsed->hasPdu());
}

TEST(Message, EveryTruncationOfAFullDatagramIsRefused) {
    Message reply = fullReply();
    const Bytes bytes = built(reply);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        std::unique_ptr<Message> parsed;
        ASSERT_EQ(parse(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n)), &parsed),
                  kRawMalformed)
            << "prefix of " << n << " bytes";
        EXPECT_EQ(parsed, nullptr);
    }
}

TEST(Message, MalformedDatagramsAreRefused) {
    const Bytes header = concat({kImcr, {0x80, 0x00, 0x00, 0x00}, kMacBytes});
    // PDU body after the header: outer SEQUENCE, version, community, type, ids, varbind list.
    auto pduWith = [&](const Bytes& varbinds, std::uint8_t type = 0xA2, Bytes version = {0}) {
        Bytes inner = concat({{0x02, 0x01, 0x07, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00},
                              {0x30, static_cast<std::uint8_t>(varbinds.size())},
                              varbinds});
        Bytes body = concat({{0x02, static_cast<std::uint8_t>(version.size())},
                             version,
                             {0x04, 0x01, ':'},
                             {type, static_cast<std::uint8_t>(inner.size())},
                             inner});
        return concat({header, {0x30, static_cast<std::uint8_t>(body.size())}, body});
    };
    auto varbind = [](const Bytes& value) {
        Bytes name = {0x06, 0x03, 0x2B, 0x06, 0x01};
        Bytes content = concat({name, value});
        return concat({{0x30, static_cast<std::uint8_t>(content.size())}, content});
    };
    std::unique_ptr<Message> ok;
    ASSERT_EQ(parse(pduWith(varbind({0x05, 0x00})), &ok), kRawOk); // the baseline is valid

    Bytes longer = pduWith({});
    longer[15] += 1; // outer SEQUENCE says one byte more than remains
    Bytes shorter = pduWith(varbind({0x05, 0x00}));
    shorter.push_back(0x00); // a byte after the PDU
    const struct {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"13 bytes", Bytes(header.begin(), header.begin() + 13)},
        {"unknown tag", concat({{'I', 'M', 'C', 'X', 0, 0, 0, 0}, kMacBytes})},
        {"all-zero MAC", concat({{'I', 'M', 'C', 'C', 0, 0, 0, 0}, Bytes(6, 0)})},
        {"reply with flag 0x1", concat({kImcr, {0, 0, 0, 1}, kMacBytes})},
        {"reply to any appliance", concat({kImcr, {0, 0, 0, 0}, Bytes(6, 0xFF)})},
        {"notification with flag 0x1", concat({{'I', 'M', 'C', 'N', 0, 0, 0, 1}, kMacBytes})},
        {"string without terminator", concat({kImcr, {0, 0, 0, 0x80}, kMacBytes, {'a', 'b'}})},
        {"128-byte block cut short", concat({kImcr, {0, 4, 0, 0}, kMacBytes, Bytes(127, 1)})},
        {"outer length past the end", longer},
        {"bytes after the PDU", shorter},
        {"version 1", pduWith({}, 0xA2, {1})},
        {"PDU type 0xA5", pduWith({}, 0xA5)},
        {"NULL with content", pduWith(varbind({0x05, 0x01, 0x00}))},
        {"IP address of 3 bytes", pduWith(varbind({0x40, 0x03, 1, 2, 3}))},
        {"unsupported value type", pduWith(varbind({0x44, 0x00}))},
        {"octet string past the end", pduWith(varbind({0x04, 0x7F, 'a'}))},
        {"length 0xFFFFFFFF", pduWith(varbind({0x04, 0x84, 0xFF, 0xFF, 0xFF, 0xFF}))},
        {"binding longer than name and value",
         pduWith(concat({{0x30, 0x08, 0x06, 0x03, 0x2B, 0x06, 0x01, 0x05, 0x00, 0x05, 0x00}}))},
        {"name is not an OID", pduWith(concat({{0x30, 0x04, 0x04, 0x00, 0x05, 0x00}}))},
        {"OID of 33 arcs",
         pduWith(varbind({0x06, 0x20, 0x2B, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
                          0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01,
                          0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01}))},
    };
    for (const auto& c : cases) {
        std::unique_ptr<Message> parsed;
        EXPECT_EQ(parse(c.bytes, &parsed), kRawMalformed) << c.name;
        EXPECT_EQ(parsed, nullptr) << c.name;
    }
}

TEST(Message, TakeFirstValue) {
    Message m;
    m.setPduType(pdu::kResponse);
    std::string big(600, 'v');
    ASSERT_EQ(m.addOctetsVarbind(1, 1, big.data(), 600), kRawOk);
    ASSERT_EQ(m.addOctetsVarbind(1, 2, "abc", 3), kRawOk);
    ASSERT_EQ(m.addIntegerVarbind(1, 3, value::kGauge, 77), kRawOk);
    const Oid oid = attributeOid(7, 8);
    ASSERT_EQ(m.addVarbind(1, 4, value::kObjectId, &oid, 0), kRawOk);
    ASSERT_EQ(m.addVarbind(1, 5, value::kObjectId, &oid, 0), kRawOk);

    char text[512];
    std::memset(text, '#', sizeof text);
    int length = 511;
    EXPECT_EQ(m.takeFirstValue(value::kOctetString, text, &length), kRawOk);
    EXPECT_EQ(length, 511);
    EXPECT_EQ(text[510], 'v');
    EXPECT_EQ(text[511], '#'); // the caller appends the terminator

    EXPECT_EQ(m.takeFirstValue(value::kOctetString, text, nullptr), kRawOk);
    EXPECT_STREQ(text, "abc");

    std::int32_t number = 0;
    EXPECT_EQ(m.takeFirstValue(value::kOctetString, &number, &length), kRawMalformed);
    EXPECT_EQ(number, 0); // wrong type: nothing copied, and the varbind is gone

    std::uint32_t arcs[12];
    int count = 11;
    EXPECT_EQ(m.takeFirstValue(0, arcs, &count), kRawHeaderEncoding);
    count = 12;
    EXPECT_EQ(m.takeFirstValue(0, arcs, &count), kRawOk);
    EXPECT_EQ(count, 12);
    EXPECT_EQ(arcs[9], 7u);
    EXPECT_TRUE(m.varbinds().empty());
    EXPECT_EQ(m.takeFirstValue(0, text, &length), kRawMalformed);
}

TEST(Message, BuildRefusals) {
    Message noHeader;
    ASSERT_EQ(noHeader.addNullVarbind(1, 1), kRawOk);
    std::unique_ptr<PacketBuffer> out;
    EXPECT_EQ(noHeader.build(&out), kRawMalformed);
    EXPECT_EQ(out, nullptr);

    Message unsupported;
    EXPECT_EQ(unsupported.addVarbind(1, 1, 0x44, nullptr, 0), kRawMalformed);
    Varbind bad;
    bad.name = attributeOid(1, 1);
    bad.type = 0x44;
    EXPECT_EQ(unsupported.addVarbind(bad), kRawMalformed);
    EXPECT_TRUE(unsupported.varbinds().empty());

    Message tooBigPdu;
    tooBigPdu.setPduType(pdu::kSet);
    const std::string big(3000, 'x');
    ASSERT_EQ(tooBigPdu.addOctetsVarbind(1, 1, big.data(), 3000), kRawOk);
    EXPECT_EQ(tooBigPdu.build(&out), kRawHeaderEncoding);

    Message tooBigText;
    tooBigText.setText(big.c_str());
    EXPECT_EQ(tooBigText.build(&out), kRawMalformed);
    EXPECT_EQ(out, nullptr);
}
