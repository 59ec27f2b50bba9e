#include "protocol/operations.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "protocol/fake_transport.h"

using namespace velmora::protocol;
using namespace velmora::protocol::testing;

namespace {

const ApplianceMac kMac{{0x00, 0x0C, 0x29, 0x01, 0x02, 0x03}};
constexpr std::uint32_t kAddress = 0x020012C6u; // 198.18.0.2 as held in memory (network order)

// A fake appliance: answers every request it is sent through `answer`, which fills in a reply
// that already agrees with the request (MAC, flag bits, response PDU with its request id).
class OperationsTest : public ::testing::Test {
protected:
    OperationsTest() {
        auto transport = std::make_unique<FakeTransport>(&clock);
        fake = transport.get();
        channel =
            std::make_unique<RequestChannel>(std::move(transport), [this] { return clock.now; });
        fake->onSend = [this](std::size_t, const Bytes& datagram) {
            std::unique_ptr<Message> request;
            ASSERT_EQ(
                Message::parse(datagram.data(), static_cast<int>(datagram.size()), 0, &request),
                kRawOk);
            requests.push_back(std::move(request));
            if (!answer) {
                return;
            }
            const Message& last = *requests.back();
            Message reply;
            reply.setKind(MessageKind::kReply);
            reply.setMac(kMac);
            reply.setFlags(last.flags() & flags::kMatchMask & ~flags::kPdu);
            if (last.hasPdu()) {
                reply.setPduType(pdu::kResponse);
                reply.setCommunity("", "");
                reply.setRequestId(last.pduHeader()->requestId);
                reply.addFlags(flags::kPdu);
            }
            answer(last, reply);
            fake->queueMessage(reply, kAddress);
        };
    }

    FakeClock clock;
    FakeTransport* fake = nullptr;
    std::unique_ptr<RequestChannel> channel;
    std::vector<std::unique_ptr<Message>> requests;
    std::function<void(const Message& request, Message& reply)> answer;
};

} // namespace

TEST(Operations, MapStatus) {
    const int cases[][2] = {{0, 0}, {2, 1}, {3, 1},  {4, 1},  {6, 2}, {20, 5},
                            {1, 3}, {5, 3}, {21, 3}, {22, 3}, {7, 3}, {-1, 3}};
    for (const auto& c : cases) {
        EXPECT_EQ(mapStatus(c[0]), c[1]) << c[0];
    }
}

TEST_F(OperationsTest, RequestStatusCopiesTheReplyCutTo99Characters) {
    const std::string longName(150, 'p');
    answer = [&](const Message&, Message& reply) {
        reply.setProductName(longName.c_str());
        reply.setFirmware("7.4.0");
        reply.setDeviceName("appliance");
        reply.addFlags(flags::kHostKey | flags::kIdentityPdu);
    };
    channel->setTarget(kAddress);
    StatusReply status;
    ASSERT_EQ(requestStatus(*channel, kMac, &status), 0);
    EXPECT_EQ(std::string(status.product), longName.substr(0, 99));
    EXPECT_STREQ(status.firmware, "7.4.0");
    EXPECT_STREQ(status.deviceName, "appliance");
    EXPECT_EQ(status.address, kAddress);
    EXPECT_EQ(status.flags,
              0x382u | flags::kHostKey | flags::kIdentityPdu); // directed, and what it asked for
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0]->flags(), 0x382u);
    EXPECT_EQ(fake->sent[0].size(), 14u);

    answer = nullptr;
    StatusReply untouched;
    std::strcpy(untouched.product, "old");
    EXPECT_EQ(requestStatus(*channel, kMac, &untouched), 3);
    EXPECT_STREQ(untouched.product, "old");
}

TEST_F(OperationsTest, ShutdownOnlyForVirtualMachineMacsAndSilenceIsSuccess) {
    const struct {
        ApplianceMac mac;
        bool answered;
        int result;
        std::size_t sends;
    } cases[] = {
        {{{0x00, 0x0C, 0x29, 9, 9, 9}}, false, 0, 1},
        {{{0x08, 0x00, 0x27, 9, 9, 9}}, true, 0, 1},
        {{{0x52, 0x54, 0x00, 9, 9, 9}}, true, kShutdownNotSent, 0},
        {ApplianceMac::any(), true, kShutdownNotSent, 0},
    };
    for (const auto& c : cases) {
        requests.clear();
        fake->sent.clear();
        answer = c.answered ? [](const Message&, Message&) {}
                            : std::function<void(const Message&, Message&)>{};
        EXPECT_EQ(sendShutdown(*channel, c.mac), c.result);
        ASSERT_EQ(fake->sent.size(), c.sends);
        if (c.sends != 0) {
            EXPECT_EQ(requests[0]->flags(), flags::kAction);
            EXPECT_EQ(fake->sent[0].size(), 14u);
        }
    }
    fake->sendResult = kRawIoFailed;
    EXPECT_EQ(sendShutdown(*channel, kMac), 3);
}

TEST_F(OperationsTest, QueryAttributeEdgeCases) {
    const std::string big(600, 'r');
    const struct {
        const char* name;
        std::function<void(const Message&, Message&)> answer;
        int capacity;
        int result;
        int length;
        std::string stored;
    } cases[] = {
        {"octet string",
         [](const Message&, Message& r) { r.addOctetsVarbind(0xF000, 0xF080, "[exit]", 6); }, 511,
         0, 6, "[exit]"},
        {"cut to the capacity",
         [&](const Message&, Message& r) { r.addOctetsVarbind(0xF000, 0xF080, big.data(), 600); },
         511, 0, 511, big.substr(0, 511)},
        {"zero-length",
         [](const Message&, Message& r) { r.addOctetsVarbind(0xF000, 0xF080, "", 0); }, 511, 0, 0,
         ""},
        {"unknown attribute",
         [](const Message&, Message& r) {
             r.setErrorStatus(2);
             r.addOctetsVarbind(0xF000, 0xF080, "junk", 4);
         },
         511, 1, -1, ""},
        {"INTEGER value",
         [](const Message&, Message& r) {
             r.addIntegerVarbind(0xF000, 0xF080, value::kInteger, 5);
         },
         511, 3, -1, ""},
        {"no varbind", [](const Message&, Message&) {}, 511, 3, -1, ""},
        {"no answer", nullptr, 511, 3, -1, ""},
    };
    channel->setTarget(kAddress);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        requests.clear();
        answer = c.answer;
        std::string destination(static_cast<std::size_t>(c.capacity) + 1, '#');
        int length = c.capacity;
        EXPECT_EQ(
            queryAttribute(*channel, kMac, attribute::kScriptCommand, &length, destination.data()),
            c.result);
        if (c.length >= 0) {
            EXPECT_EQ(length, c.length);
            EXPECT_EQ(destination.substr(0, static_cast<std::size_t>(length)), c.stored);
        } else {
            EXPECT_EQ(length, c.capacity); // failures store nothing
            EXPECT_EQ(destination, std::string(destination.size(), '#'));
        }
        ASSERT_FALSE(requests.empty());
        const Message& request = *requests[0];
        EXPECT_EQ(request.pduHeader()->type, pdu::kGet);
        EXPECT_EQ(request.pduHeader()->community, ":");
        ASSERT_EQ(request.varbinds().size(), 1u);
        EXPECT_EQ(request.varbinds()[0].type, value::kNull);
        EXPECT_EQ(request.varbinds()[0].name, attributeOid(0xF000, 0xF080));
    }
}

TEST_F(OperationsTest, SetAttributesCarryTheirValueAndMapTheErrorStatus) {
    int errorStatus = 0;
    answer = [&](const Message&, Message& reply) { reply.setErrorStatus(errorStatus); };
    channel->setTarget(kAddress);
    EXPECT_EQ(setAttributeValue(*channel, kMac, attribute::kIdentityAccepted.group,
                                attribute::kIdentityAccepted.id, value::kInteger,
                                attribute::kIdentityAcceptedValue),
              0);
    errorStatus = 3;
    EXPECT_EQ(setAttribute(*channel, kMac, attribute::kScriptAnswer.group,
                           attribute::kScriptAnswer.id, 5, "hello"),
              1);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0]->pduHeader()->type, pdu::kSet);
    EXPECT_EQ(requests[0]->varbinds()[0].type, value::kInteger);
    EXPECT_EQ(requests[0]->varbinds()[0].integer, 127);
    EXPECT_EQ(requests[1]->pduHeader()->type, pdu::kSet);
    EXPECT_EQ(requests[1]->varbinds()[0].octets,
              (std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o'}));

    // Only integer types go through setAttributeValue; nothing is sent otherwise.
    EXPECT_EQ(setAttributeValue(*channel, kMac, 0xF000, 0xF090, value::kOctetString, 1), 3);
    EXPECT_EQ(requests.size(), 2u);
}

TEST_F(OperationsTest, HostIdentityMessage) {
    std::uint8_t key[16];
    std::uint8_t block[128];
    std::memset(key, 0x11, sizeof key);
    std::memset(block, 0x22, sizeof block);
    answer = [](const Message&, Message&) {};
    channel->setTarget(kAddress);
    for (bool withPdu : {false, true}) {
        SCOPED_TRACE(withPdu);
        requests.clear();
        auto identity =
            buildHostIdentityMessage(kMac, "WORKSTATION", key, block, 1796860800u, withPdu);
        ASSERT_NE(identity, nullptr);
        EXPECT_EQ(sendHostIdentity(*channel, std::move(identity)), 0);
        ASSERT_EQ(requests.size(), 1u);
        const Message& sent = *requests[0];
        EXPECT_EQ(sent.flags(), 0x000F0002u | (withPdu ? flags::kPdu : 0));
        EXPECT_STREQ(sent.text(), "WORKSTATION");
        EXPECT_EQ(std::memcmp(sent.hostKey(), key, 16), 0);
        EXPECT_EQ(std::memcmp(sent.block128(), block, 128), 0);
        EXPECT_EQ(sent.timeStamp(), 1796860800u);
        if (withPdu) {
            ASSERT_EQ(sent.varbinds().size(), 1u);
            EXPECT_EQ(sent.varbinds()[0].name, attributeOid(0x8800, 0x0320));
            EXPECT_EQ(sent.varbinds()[0].type, value::kNull);
            EXPECT_EQ(sent.pduHeader()->community, ":");
        }
    }
}
