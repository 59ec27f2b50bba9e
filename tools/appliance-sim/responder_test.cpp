// The simulator answered through the host's own request channel and operations, so a reply the
// host would not accept shows up here as a failed operation.
#include "responder.h"

#include <gtest/gtest.h>

#include <deque>

#include "protocol/attributes.h"
#include "protocol/operations.h"

namespace velmora::sim {
namespace {

using namespace velmora::protocol;

const std::uint32_t kHost = 0x0100A8C0;      // 192.168.0.1
const std::uint32_t kAppliance = 0x0200A8C0; // 192.168.0.2

class LoopTransport : public ITransport {
public:
    explicit LoopTransport(Responder* responder) : responder_(responder) {}
    int send(const PacketBuffer& d) override {
        Outcome o =
            responder_->handle(d.data(), static_cast<int>(d.remaining()), kHost, "255.255.255.255");
        for (auto& line : o.log)
            log.push_back(line);
        if (!o.reply.empty())
            replies_.push_back(o.reply);
        return kRawOk;
    }
    int receive(std::unique_ptr<PacketBuffer>* out, std::uint32_t* source) override {
        if (replies_.empty())
            return kRawTimeout;
        auto buffer = PacketBuffer::create(static_cast<int>(replies_.front().size()));
        std::copy(replies_.front().begin(), replies_.front().end(), buffer->start());
        replies_.pop_front();
        *source = kAppliance;
        *out = std::move(buffer);
        return kRawOk;
    }
    void reset() override {}
    void setTarget(std::uint32_t) override {}
    void openPipe(const char*) override {}
    void setWindow(void*) override {}
    void suspendNotifications() override {}
    void resumeNotifications() override {}
    void postNotification() override {}
    std::vector<std::string> log;

private:
    Responder* responder_;
    std::deque<std::vector<std::uint8_t>> replies_;
};

struct Rig {
    explicit Rig(const std::string& configText) {
        std::string error;
        EXPECT_TRUE(parseConfig(configText, &config, &error)) << error;
        responder = std::make_unique<Responder>(config);
        auto t = std::make_unique<LoopTransport>(responder.get());
        transport = t.get();
        // Every look at the clock moves it 50 ms on, so waits end without real time passing.
        channel = std::make_unique<RequestChannel>(std::move(t), [this] { return now += 50; });
    }
    SimConfig config;
    std::unique_ptr<Responder> responder;
    LoopTransport* transport = nullptr;
    std::unique_ptr<RequestChannel> channel;
    std::uint64_t now = 0;
};

const char* kConfig = R"(# test appliance
mac = 00:0c:29:aa:bb:cc
product = Velmora Test
firmware = 7.4.1
device_name = appl-1
serial_number = SN-0042
route_list_1 = 0A000000FF000000
quorvane_status = Connected
ostrel_connection = tunnel up
serial_config = COM5,tcp:198.18.0.2:7000\n
script = [browse]
script = [exit]
)";

TEST(ApplianceSim, StatusRepliesAreAcceptedWithAnyExtraStatusFlags) {
    for (std::uint32_t extra : {0u, 0x20000u, 0x40000000u, 0x40020000u}) {
        Rig rig(std::string(kConfig) + "status_flags = " + std::to_string(extra) + "\n");
        StatusReply status;
        ASSERT_EQ(requestStatus(*rig.channel, ApplianceMac::any(), &status), 0) << extra;
        EXPECT_STREQ(status.product, "Velmora Test");
        EXPECT_STREQ(status.firmware, "7.4.1");
        EXPECT_STREQ(status.deviceName, "appl-1");
        EXPECT_EQ(status.address, kAppliance);
        EXPECT_EQ(status.flags & extra, extra);
        EXPECT_NE(rig.transport->log.front().find("kind=status"), std::string::npos);
    }
}

TEST(ApplianceSim, AttributesQueriesSetsAndTheScriptQueue) {
    Rig rig(kConfig);
    const ApplianceMac mac{{0x00, 0x0c, 0x29, 0xaa, 0xbb, 0xcc}};
    char text[1024];
    int length = sizeof text - 1;
    ASSERT_EQ(queryAttribute(*rig.channel, mac, attribute::kSerialConfig, &length, text), 0);
    EXPECT_EQ(std::string(text, length), "COM5,tcp:198.18.0.2:7000\n");
    length = 49;
    ASSERT_EQ(queryAttribute(*rig.channel, mac, attribute::kSerialNumber, &length, text), 0);
    EXPECT_EQ(std::string(text, length), "SN-0042");
    for (const char* expected : {"[browse]", "[exit]", "", ""}) {
        length = 511;
        ASSERT_EQ(queryAttribute(*rig.channel, mac, attribute::kScriptCommand, &length, text), 0);
        EXPECT_EQ(std::string(text, length), expected);
    }
    length = 100;
    EXPECT_EQ(queryAttribute(*rig.channel, mac, attribute::kUsbipConfig, &length, text), 1)
        << "unknown attribute: noSuchName";
    EXPECT_EQ(setAttribute(*rig.channel, mac, 0xF000, 0xF093, 5, "usb-1"), 0);
    length = 100;
    ASSERT_EQ(queryAttribute(*rig.channel, mac, attribute::kUsbipConfig, &length, text), 0);
    EXPECT_EQ(std::string(text, length), "usb-1");
    EXPECT_EQ(setAttributeValue(*rig.channel, mac, 0xF000, 0xF090, value::kInteger, 127), 0);
    const AttributeKey identityAccepted{0xF000, 0xF090};
    EXPECT_EQ(rig.responder->config().attributes[identityAccepted],
              (std::vector<std::uint8_t>{'1', '2', '7'}));
}

TEST(ApplianceSim, FaultKnobsMakeTheHostGiveUp) {
    for (const char* knob : {"wrong_mac = 1", "wrong_request_id = 1", "drop_first = 5"}) {
        Rig rig(std::string(kConfig) + knob + "\n");
        const ApplianceMac mac{{0x00, 0x0c, 0x29, 0xaa, 0xbb, 0xcc}};
        char text[64];
        int length = 31;
        EXPECT_EQ(queryAttribute(*rig.channel, mac, attribute::kQuorvaneStatus, &length, text), 3)
            << knob;
    }
    Rig dropOne(std::string(kConfig) + "drop_first = 1\n");
    StatusReply status;
    EXPECT_EQ(requestStatus(*dropOne.channel, ApplianceMac::any(), &status), 3);
    EXPECT_EQ(requestStatus(*dropOne.channel, ApplianceMac::any(), &status), 0);
}

TEST(ApplianceSim, ShutdownAndIdentityAreAnswered) {
    Rig rig(kConfig);
    const ApplianceMac mac{{0x00, 0x0c, 0x29, 0xaa, 0xbb, 0xcc}};
    EXPECT_EQ(sendShutdown(*rig.channel, mac), 0);
    EXPECT_NE(rig.transport->log.front().find("kind=shutdown"), std::string::npos);
    std::uint8_t key[16] = {1, 2, 3};
    std::uint8_t block[128] = {9};
    for (bool withPdu : {false, true}) {
        EXPECT_EQ(sendHostIdentity(*rig.channel, buildHostIdentityMessage(mac, "PC-1", key, block,
                                                                          1700000000, withPdu)),
                  0);
    }
    bool sawIdentity = false;
    for (const auto& line : rig.transport->log) {
        sawIdentity |=
            line.find("kind=identity text=\"PC-1\" hostkey=01020300") != std::string::npos;
    }
    EXPECT_TRUE(sawIdentity);
}

TEST(ApplianceSim, MalformedDatagramsAreLoggedWithTheReason) {
    Responder responder(SimConfig{});
    const std::uint8_t shortOne[13] = {'I', 'M', 'C', 'C'};
    Outcome o = responder.handle(shortOne, sizeof shortOne, kHost, "198.18.0.2");
    EXPECT_TRUE(o.reply.empty());
    ASSERT_EQ(o.log.size(), 1u);
    EXPECT_NE(o.log[0].find("undecodable (5)"), std::string::npos) << o.log[0];

    SimConfig bad;
    std::string error;
    EXPECT_FALSE(parseConfig("mac = 00:11\n", &bad, &error));
    EXPECT_FALSE(parseConfig("colour = blue\n", &bad, &error));
    EXPECT_NE(error.find("line 1"), std::string::npos);
    EXPECT_TRUE(parseConfig("attr.8800.0320 = x\\x00y\n", &bad, &error));
    const AttributeKey identityPdu{0x8800, 0x0320};
    EXPECT_EQ(bad.attributes[identityPdu], (std::vector<std::uint8_t>{'x', 0, 'y'}));
}

} // namespace
} // namespace velmora::sim
