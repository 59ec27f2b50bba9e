#include "protocol/request_channel.h"

#include <gtest/gtest.h>

#include "protocol/fake_transport.h"

using namespace velmora::protocol;
using namespace velmora::protocol::testing;

namespace {

const ApplianceMac kMac{{0x08, 0x00, 0x27, 0xAA, 0xBB, 0xCC}};
const ApplianceMac kOtherMac{{0x08, 0x00, 0x27, 0xAA, 0xBB, 0xCD}};
constexpr std::uint32_t kTarget = 0x0200A8C0u;
constexpr std::uint32_t kStatusFlags = flags::kDeviceName | flags::kProductName | flags::kFirmware;

class RequestChannelTest : public ::testing::Test {
protected:
    RequestChannelTest() {
        auto transport = std::make_unique<FakeTransport>(&clock);
        fake = transport.get();
        channel =
            std::make_unique<RequestChannel>(std::move(transport), [this] { return clock.now; });
    }

    std::unique_ptr<Message> statusRequest(const ApplianceMac& mac = kMac) {
        auto request = std::make_unique<Message>();
        request->setMac(mac);
        request->setFlags(kStatusFlags);
        return request;
    }
    std::unique_ptr<Message> queryRequest() {
        auto request = std::make_unique<Message>();
        request->setMac(kMac);
        request->setCommunity("", "");
        request->addNullVarbind(0xF000, 0xF010);
        return request;
    }
    // Replies are told apart by the source address the fake reports for them.
    static Message reply(std::uint32_t flagWord, const ApplianceMac& mac = kMac) {
        Message m;
        m.setKind(MessageKind::kReply);
        m.setMac(mac);
        m.setFlags(flagWord);
        return m;
    }

    FakeClock clock;
    FakeTransport* fake = nullptr;
    std::unique_ptr<RequestChannel> channel;
};

} // namespace

TEST_F(RequestChannelTest, NumbersRequestsAndSetsTheDirectedBit) {
    const struct {
        bool setTarget;
        std::uint32_t target;
        bool directed;
    } steps[] = {
        {false, 0, false},            // counter 0, no address ever set
        {false, 0, false},            // counter 1, still never set
        {true, kTarget, true},        // counter 2, target known
        {true, kTargetUnknown, true}, // counter 3: address was set and the counter is odd
        {false, 0, false},            // counter 4: even
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        if (steps[i].setTarget) {
            channel->setTarget(steps[i].target);
        }
        ASSERT_EQ(channel->send(queryRequest()), kRawOk);
        std::unique_ptr<Message> sent;
        ASSERT_EQ(Message::parse(fake->sent.back().data(),
                                 static_cast<int>(fake->sent.back().size()), 0, &sent),
                  kRawOk);
        EXPECT_EQ((sent->flags() & flags::kDirected) != 0, steps[i].directed);
        EXPECT_EQ(sent->pduHeader()->requestId, static_cast<std::int32_t>(i));
        EXPECT_EQ(sent->pduHeader()->type, pdu::kGet);
    }
    EXPECT_EQ(channel->counter(), 5u);
    EXPECT_EQ(fake->targets, (std::vector<std::uint32_t>{kTarget, kTargetUnknown}));
}

TEST_F(RequestChannelTest, ReplyMatchingRules) {
    // The request: directed status request, or an attribute query with request id 0.
    const std::uint32_t status = kStatusFlags | flags::kDirected;
    auto withPdu = [](std::uint8_t type, std::int32_t id) {
        Message m = reply(flags::kDirected | flags::kPdu);
        m.setPduType(type);
        m.setRequestId(id);
        m.addOctetsVarbind(0xF000, 0xF010, "x", 1);
        return m;
    };
    struct {
        const char* name;
        bool query;
        bool anyMac;
        Message candidate;
        bool accepted;
    } cases[] = {
        {"same flags", false, false, reply(status), true},
        {"differs in 0x20000", false, false, reply(status | flags::kHostKey), true},
        {"differs in 0x40000000", false, false, reply(status | flags::kIdentityPdu), true},
        {"differs in bit 11", false, false, reply(status | 0x800), true},
        {"differs in 0x40000", false, false, reply(status | flags::kBlock128), false},
        {"differs in 0x2", false, false, reply(kStatusFlags), false},
        {"differs in 0x100", false, false, reply(status & ~flags::kProductName), false},
        {"other MAC", false, false, reply(status, kOtherMac), false},
        {"other MAC, request to any", false, true, reply(status, kOtherMac), true},
        {"PDU where the request had none", false, false, withPdu(pdu::kResponse, 0), false},
        {"response with the request id", true, false, withPdu(pdu::kResponse, 0), true},
        {"response with another id", true, false, withPdu(pdu::kResponse, 1), false},
        {"get with the request id", true, false, withPdu(pdu::kGet, 0), false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto transport = std::make_unique<FakeTransport>(&clock);
        fake = transport.get();
        channel =
            std::make_unique<RequestChannel>(std::move(transport), [this] { return clock.now; });
        channel->setTarget(kTarget);
        auto request =
            c.query ? queryRequest() : statusRequest(c.anyMac ? ApplianceMac::any() : kMac);
        const std::uint32_t requestFlags = c.query ? flags::kDirected | flags::kPdu : status;
        Message candidate = std::move(c.candidate);
        fake->queueMessage(candidate, 1);
        Message marker = reply(requestFlags);
        if (c.query) {
            marker.setPduType(pdu::kResponse);
            marker.setRequestId(0);
            marker.addOctetsVarbind(0xF000, 0xF010, "m", 1);
        }
        fake->queueMessage(marker, 2);
        ASSERT_EQ(channel->send(std::move(request)), kRawOk);
        std::unique_ptr<Message> got;
        ASSERT_EQ(channel->receive(&got), kRawOk);
        EXPECT_EQ(got->sourceAddress(), c.accepted ? 1u : 2u);
    }
}

TEST_F(RequestChannelTest, NotificationsAndRequestsDuringTheWaitDoNotEndIt) {
    channel->setTarget(kTarget);
    Message notification;
    notification.setKind(MessageKind::kNotification);
    notification.setMac(kMac);
    Message otherRequest;
    otherRequest.setMac(kMac);
    otherRequest.setFlags(kStatusFlags | flags::kDirected);
    fake->queueMessage(notification);
    fake->queueMessage(otherRequest);
    fake->queueMessage(notification);
    Message answer = reply(kStatusFlags | flags::kDirected);
    fake->queueMessage(answer, 3);
    ASSERT_EQ(channel->send(statusRequest()), kRawOk);
    std::unique_ptr<Message> got;
    ASSERT_EQ(channel->receive(&got), kRawOk);
    EXPECT_EQ(got->sourceAddress(), 3u);
    EXPECT_EQ(fake->posts, 2);
    EXPECT_EQ(fake->log, "suspend;send;resume;");
}

TEST_F(RequestChannelTest, UndirectedRequestGivesUpAfterOneEmptyReceive) {
    ASSERT_EQ(channel->send(statusRequest()), kRawOk);
    std::unique_ptr<Message> got;
    EXPECT_EQ(channel->receive(&got), kRawTimeout);
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(fake->receives, 1);
    EXPECT_EQ(fake->resets, 0); // one attempt only while the target is unknown
    EXPECT_EQ(fake->log, "suspend;send;resume;");
}

TEST_F(RequestChannelTest, DatagramsThatDoNotParseKeepTheWaitGoing) {
    // Twenty junk datagrams arrive well within the 30 ms limit's 100 ms receive window; the wait
    // only ends at the first receive that gets nothing.
    for (int i = 0; i < 20; ++i) {
        fake->queueDatagram(Bytes(13, 0x49));
    }
    ASSERT_EQ(channel->send(statusRequest()), kRawOk);
    std::unique_ptr<Message> got;
    EXPECT_EQ(channel->receive(&got), kRawTimeout);
    EXPECT_EQ(fake->receives, 21);
}

TEST_F(RequestChannelTest, DirectedRequestIsResentOnceAfterATransportReset) {
    channel->setTarget(kTarget);
    std::uint64_t firstWaitEnded = 0;
    fake->onSend = [&](std::size_t index, const Bytes&) {
        if (index == 1) {
            firstWaitEnded = clock.now;
            Message answer = reply(kStatusFlags | flags::kDirected);
            fake->queueMessage(answer, 4);
        }
    };
    const std::uint64_t start = clock.now;
    ASSERT_EQ(channel->send(statusRequest()), kRawOk);
    std::unique_ptr<Message> got;
    ASSERT_EQ(channel->receive(&got), kRawOk);
    EXPECT_EQ(got->sourceAddress(), 4u);
    ASSERT_EQ(fake->sent.size(), 2u);
    EXPECT_EQ(fake->sent[0], fake->sent[1]); // the same request, same number
    EXPECT_EQ(fake->resets, 1);
    EXPECT_GE(firstWaitEnded - start, kWaitDirectedMs);
    EXPECT_LT(firstWaitEnded - start, kWaitDirectedMs + 200);
    EXPECT_EQ(fake->log, "suspend;send;reset;suspend;send;resume;");
}

TEST_F(RequestChannelTest, WaitLimitsFollowTheRequestFlags) {
    const struct {
        std::uint32_t extraFlags;
        std::uint64_t limit;
    } cases[] = {{0, kWaitDirectedMs}, {flags::kBlock128, kWaitBlockMs}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        channel->setTarget(kTarget);
        auto request = statusRequest();
        request->addFlags(c.extraFlags);
        if (c.extraFlags & flags::kBlock128) {
            std::uint8_t block[128] = {};
            request->setBlock128(block);
        }
        const std::uint64_t start = clock.now;
        const int resetsBefore = fake->resets;
        ASSERT_EQ(channel->send(std::move(request)), kRawOk);
        std::unique_ptr<Message> got;
        EXPECT_EQ(channel->receive(&got), kRawTimeout);
        EXPECT_EQ(fake->resets - resetsBefore, 1);
        // Two waits, each ending with the first empty receive past its deadline.
        EXPECT_GE(clock.now - start, 2 * c.limit);
        EXPECT_LE(clock.now - start, 2 * c.limit + 200);
    }
}

TEST_F(RequestChannelTest, DeadlineHoldsWhenThe32BitTickWraps) {
    clock.now = 0xFFFFFFFFull - 300; // a 32-bit deadline would wrap and end the wait at once
    channel->setTarget(kTarget);
    const std::uint64_t start = clock.now;
    ASSERT_EQ(channel->send(statusRequest()), kRawOk);
    std::unique_ptr<Message> got;
    EXPECT_EQ(channel->receive(&got), kRawTimeout);
    EXPECT_GE(clock.now - start, 2 * kWaitDirectedMs);
}

TEST_F(RequestChannelTest, FailuresEndTheExchangeAndResumeNotifications) {
    channel->setTarget(kTarget);
    fake->queueError(kRawIoFailed);
    ASSERT_EQ(channel->send(statusRequest()), kRawOk);
    std::unique_ptr<Message> got;
    EXPECT_EQ(channel->receive(&got), kRawIoFailed);
    EXPECT_EQ(fake->receives, 1);
    EXPECT_EQ(fake->log, "suspend;send;resume;");

    fake->log.clear();
    fake->sendResult = kRawIoFailed;
    EXPECT_EQ(channel->send(statusRequest()), kRawIoFailed);
    EXPECT_EQ(fake->log, "suspend;send;resume;");

    // A resend that fails after the reset ends the wait with the send's result.
    fake->log.clear();
    fake->sendResult = kRawOk;
    const std::size_t firstSend = fake->sent.size();
    fake->onSend = [&](std::size_t index, const Bytes&) {
        fake->sendResult = index > firstSend ? kRawIoFailed : kRawOk;
    };
    ASSERT_EQ(channel->send(statusRequest()), kRawOk);
    EXPECT_EQ(channel->receive(&got), kRawIoFailed);
    EXPECT_EQ(fake->log, "suspend;send;reset;suspend;send;resume;");

    RequestChannel fresh(std::make_unique<FakeTransport>(&clock), [this] { return clock.now; });
    EXPECT_EQ(fresh.receive(&got), kRawMalformed); // nothing was sent
}

TEST(RequestChannelInit, CreatesOnce) {
    FakeClock clock;
    std::unique_ptr<RequestChannel> channel;
    EXPECT_EQ(initRequestChannel(&channel, nullptr), kRawMalformed);
    EXPECT_EQ(initRequestChannel(&channel, std::make_unique<FakeTransport>(&clock)), kRawOk);
    ASSERT_NE(channel, nullptr);
    const RequestChannel* first = channel.get();
    EXPECT_EQ(initRequestChannel(&channel, std::make_unique<FakeTransport>(&clock)), 1);
    EXPECT_EQ(channel.get(), first);
}
