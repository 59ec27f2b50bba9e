// The status poll against the simulator's responder in process: what the host sends in which
// order, what it records and writes, what it hands over, and how it fails.
#include "supervision/poll.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/message.h"
#include "sim_config.h"
#include "supervision/loopback_appliance.h"
#include "supervision/test_backend.h"
#include "vm/channel_link.h"
#include "vm/temp_dir.h"

namespace velmora::supervision {
namespace {

using protocol::Message;
using testing::LoopbackAppliance;
using testing::LoopbackTransport;
using testing::TestBackend;
using vm::testing::readText;
using vm::testing::TempDir;
using vm::testing::writeText;

constexpr char kVmx[] = "config.version = \"8\"\n"
                        "ethernet0.generatedAddress = \"00:0c:29:e2:e2:01\"\n"
                        "uuid.bios = \"56 4d 01 02 03 04 05 06-07 08 09 0a 0b 0c 0d 0e\"\n";
constexpr std::uint8_t kUuid[16] = {0x56, 0x4d, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                    0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e};

constexpr char kSimConfig[] = "mac = 00:0c:29:e2:e2:01\n"
                              "product = Velmora Gateway\n"
                              "firmware = 9.8.7\n"
                              "device_name = gw-01\n"
                              "serial_number = SN-0042\n"
                              "quorvane_status = Connected\n"
                              "ostrel_connection = online\n"
                              "serial_config = 198.18.0.2:7000 9600,8,N,1\n"
                              "usbip_config = 198.18.0.2 1-1\n"
                              "layer2_config = 198.18.0.2:1200\n";

// Answers a fixed "digest" and counts random blocks, recording what was hashed, so the tests see
// exactly what the host key covers. (The real MD5 is checked under Windows and end to end.)
class RecordingIdentitySource : public IdentitySource {
public:
    class Session : public IdentityCrypto {
    public:
        explicit Session(RecordingIdentitySource* source) : source_(source) {}
        int md5(const ByteRange* parts, std::size_t count, std::uint8_t digest[16]) override {
            source_->hashed.clear();
            for (std::size_t i = 0; i < count; ++i) {
                source_->hashed.append(static_cast<const char*>(parts[i].data), parts[i].size);
            }
            for (int i = 0; i < 16; ++i) {
                digest[i] = static_cast<std::uint8_t>(0xA0 + i);
            }
            return 0;
        }
        int random(std::uint8_t* out, std::size_t size) override {
            ++source_->randomBlocks;
            std::memset(out, source_->randomBlocks, size);
            return 0;
        }

    private:
        RecordingIdentitySource* source_;
    };

    int readHostName(std::string* name) override {
        if (hostNameResult != 0) {
            return hostNameResult;
        }
        *name = hostName;
        return 0;
    }
    std::unique_ptr<IdentityCrypto> acquireCrypto() override {
        return cryptoAvailable ? std::make_unique<Session>(this) : nullptr;
    }

    std::string hostName = "velmora-host";
    int hostNameResult = 0;
    bool cryptoAvailable = true;
    std::string hashed;
    int randomBlocks = 0;
};

// Stands in for the virtual COM port pair: serial emulation asks it for a port whenever it takes
// a new configuration, which is how the tests see a hand-over.
class CountingPort : public serial::VirtualPort {
public:
    int GetVirtualPortNumber() override { return 0; }
    int EnsureVirtualPort(int) override {
        ++requests;
        return 0;
    }
    int requests = 0;
};

std::string attributeName(const protocol::Varbind& v) {
    std::uint16_t group = 0;
    std::uint16_t id = 0;
    protocol::attributeFromOid(v.name, &group, &id);
    char text[16];
    std::snprintf(text, sizeof text, "%04X.%04X", group, id);
    return text;
}

// "status", "identity", "get F000.F010", "set F000.F090".
std::string summary(const Message& m) {
    if (m.flags() & protocol::flags::kText) {
        return "identity";
    }
    if (!m.hasPdu()) {
        return "status";
    }
    const char* verb = m.pduHeader()->type == protocol::pdu::kSet ? "set " : "get ";
    return verb + (m.varbinds().empty() ? std::string("?") : attributeName(m.varbinds()[0]));
}

const std::vector<std::string> kQuietPoll = {
    "status",        "get F000.F010", "get F000.F011", "get F000.F091",
    "get F000.F093", "get F000.F094", "get F000.F080",
};

class Poll : public ::testing::Test {
protected:
    void SetUp() override {
        sim::SimConfig config;
        std::string error;
        ASSERT_TRUE(sim::parseConfig(kSimConfig, &config, &error)) << error;
        appliance = std::make_unique<LoopbackAppliance>(config);
        vm::setChannelTransportFactory(
            [this] { return std::make_unique<LoopbackTransport>(appliance.get()); });
        writeText(vmx, kVmx);
        backend = std::make_unique<TestBackend>();
        backend->serial.setVirtualPort(port);
        backend->services.identity = &identity;
        backend->services.runScript = [this](vm::Cvmx& owner, const char* text) {
            EXPECT_EQ(&owner, backend.get());
            scripts.push_back(text);
        };
        backend->services.setSuffixList = [this](const char* text) {
            EXPECT_EQ(text, nullptr);
            ++suffixRestores;
            return 0;
        };
        ASSERT_EQ(backend->configure(vmx.c_str()), 0);
        ASSERT_EQ(backend->start(0), 0);
        ASSERT_EQ(backend->state, vm::kStarting);
    }
    void TearDown() override {
        backend.reset(); // frees the channel, and with it the transport
        vm::setChannelTransportFactory(nullptr);
    }

    int poll() {
        backend->lastPoll = -1;
        backend->pollState(0, 1);
        return backend->lastPoll;
    }
    sim::SimConfig& sim() { return appliance->responder.config(); }
    std::size_t mark() const { return appliance->requests.size(); }
    std::vector<std::string> sentSince(std::size_t from) const {
        std::vector<std::string> out;
        for (const Message* m : appliance->sent(from)) {
            out.push_back(m != nullptr ? summary(*m) : "undecodable");
        }
        return out;
    }
    const Message* lastOf(const std::string& kind) const {
        for (auto it = appliance->requests.rbegin(); it != appliance->requests.rend(); ++it) {
            if (*it && summary(**it) == kind) {
                return it->get();
            }
        }
        return nullptr;
    }
    bool logged(const std::string& text) const {
        for (const std::string& line : appliance->log) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    // True when serial emulation still holds `config` (taking it again asks for no port).
    bool serialHolds(const char* config) {
        const int before = port.requests;
        backend->serial.Start(config);
        return port.requests == before;
    }

    TempDir dir;
    std::string vmx = dir.file("Velmora.vmx");
    std::unique_ptr<LoopbackAppliance> appliance;
    RecordingIdentitySource identity;
    CountingPort port;
    std::unique_ptr<TestBackend> backend;
    std::vector<std::string> scripts;
    int suffixRestores = 0;
};

TEST_F(Poll, FirstGoodPollSendsIdentityAndWritesTheKeysOnce) {
    const std::string configured = readText(vmx);
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(backend->state, vm::kRunning);
    EXPECT_EQ(backend->polledHooks, 1);
    EXPECT_EQ(sentSince(0),
              (std::vector<std::string>{"status", "identity", "set F000.F090", "get 0200.0280",
                                        "get F000.F010", "get F000.F011", "get F000.F091",
                                        "get F000.F093", "get F000.F094", "get F000.F080"}));

    // Status: undirected, for the MAC the VMX file names; the reply's source becomes the target.
    const Message& status = *appliance->requests[0];
    EXPECT_EQ(status.flags(), 0x380u);
    EXPECT_EQ(status.mac().bytes,
              (std::array<std::uint8_t, 6>{0x00, 0x0c, 0x29, 0xe2, 0xe2, 0x01}));
    ASSERT_FALSE(appliance->targets.empty());
    EXPECT_EQ(appliance->targets.back(), appliance->address);
    EXPECT_EQ(backend->info.address, appliance->address);

    // Identity: host name, key over host name + VMX path + UUID, random block, time stamp.
    const Message& id = *lastOf("identity");
    EXPECT_EQ(id.flags(), 0x000F0002u);
    EXPECT_STREQ(id.text(), "velmora-host");
    EXPECT_EQ(identity.hashed,
              "velmora-host" + vmx + std::string(reinterpret_cast<const char*>(kUuid), 16));
    ASSERT_NE(id.hostKey(), nullptr);
    EXPECT_EQ(id.hostKey()[0], 0xA0);
    EXPECT_EQ(id.hostKey()[15], 0xAF);
    ASSERT_NE(id.block128(), nullptr);
    EXPECT_EQ(id.block128()[127], 1);
    ASSERT_TRUE(id.hasTimeStamp());
    EXPECT_LE(std::abs(static_cast<long long>(id.timeStamp()) -
                       static_cast<long long>(std::time(nullptr))),
              60);
    EXPECT_TRUE(logged("SET F000.F090 = \"127\""));
    EXPECT_EQ(backend->info.identityPending, 0);

    // What the appliance reported, and the three keys appended once.
    const ApplianceInfo& info = backend->info;
    EXPECT_STREQ(info.productName, "Velmora Gateway");
    EXPECT_STREQ(info.firmware, "9.8.7");
    EXPECT_STREQ(info.deviceName, "gw-01");
    EXPECT_STREQ(info.serialNumber, "SN-0042");
    EXPECT_STREQ(info.quorvaneText, "Connected");
    EXPECT_STREQ(info.ostrelText, "online");
    EXPECT_STREQ(info.usbipConfig, "198.18.0.2 1-1");
    EXPECT_EQ(readText(vmx), configured + "appliance.serialno = \"SN-0042\"\n"
                                          "appliance.hostname = \"gw-01\"\n"
                                          "appliance.productname = \"Velmora Gateway\"\n");
    EXPECT_FALSE(vm::testing::exists(vmx + ".tmp"));

    // While Running the MAC is not read again; the second poll is directed and writes nothing.
    ASSERT_EQ(vm::writeSetting(vmx.c_str(), "ethernet0.generatedAddress", "00:0c:29:00:00:09"), 1);
    const std::string written = readText(vmx);
    const std::size_t second = mark();
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(sentSince(second), kQuietPoll);
    EXPECT_EQ(appliance->requests[second]->flags(), 0x382u);
    EXPECT_EQ(appliance->requests[second]->mac(), status.mac());
    EXPECT_EQ(readText(vmx), written);

    // A changed device name is written once.
    sim().deviceName = "gw-02";
    EXPECT_EQ(poll(), 0);
    EXPECT_STREQ(backend->readSetting("appliance.hostname"), "gw-02");
    const std::string renamed = readText(vmx);
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(readText(vmx), renamed);
}

TEST_F(Poll, KeysAlreadyInTheFileAreNotRewritten) {
    backend.reset();
    writeText(vmx, std::string(kVmx) + "appliance.serialno = \"SN-0042\"\n"
                                       "appliance.hostname = \"gw-01\"\n"
                                       "appliance.productname = \"Velmora Gateway\"\n"
                                       "uuid.action = \"keep\"\n"
                                       "ide0:1.present = \"TRUE\"\n");
    backend = std::make_unique<TestBackend>();
    backend->services.identity = &identity;
    ASSERT_EQ(backend->configure(vmx.c_str()), 0);
    ASSERT_EQ(backend->start(0), 0);
    const std::string before = readText(vmx);
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(backend->state, vm::kRunning);
    EXPECT_EQ(readText(vmx), before);
}

TEST_F(Poll, IdentityAgainOnRequestAndWithTheQueryWhenAsked) {
    ASSERT_EQ(poll(), 0);
    // 0x20000 asks for the identity again: sent, without PDU, with a fresh random block; the
    // serial number is asked again with it.
    sim().statusFlags = 0x20000;
    std::size_t from = mark();
    EXPECT_EQ(poll(), 0);
    std::vector<std::string> expected = kQuietPoll;
    expected.insert(expected.begin() + 1, {"identity", "set F000.F090", "get 0200.0280"});
    EXPECT_EQ(sentSince(from), expected);
    const Message& again = *lastOf("identity");
    EXPECT_EQ(again.flags(), 0x000F0002u);
    EXPECT_FALSE(again.hasPdu());
    EXPECT_EQ(again.block128()[0], 2);

    // 0x40000000 alone does not send it; it shapes the next one that is due.
    sim().statusFlags = 0x40000000;
    from = mark();
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(sentSince(from), kQuietPoll);

    appliance->off = true;
    EXPECT_EQ(poll(), 3);
    appliance->off = false;
    from = mark();
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(sentSince(from), expected);
    const Message& withPdu = *lastOf("identity");
    EXPECT_EQ(withPdu.flags(), 0x800F0002u);
    ASSERT_TRUE(withPdu.hasPdu());
    EXPECT_EQ(withPdu.pduHeader()->type, protocol::pdu::kGet);
    EXPECT_EQ(withPdu.pduHeader()->community, ":");
    ASSERT_EQ(withPdu.varbinds().size(), 1u);
    EXPECT_EQ(attributeName(withPdu.varbinds()[0]), "8800.0320");
    EXPECT_EQ(withPdu.varbinds()[0].type, protocol::value::kNull);
}

TEST_F(Poll, SilenceOrAFailedLinkCheckTearsDown) {
    struct Case {
        const char* name;
        bool silent;
        int result;
    };
    for (const Case& c : {Case{"silence", true, 3}, Case{"link check", false, 0}}) {
        SCOPED_TRACE(c.name);
        backend->linkResult = 0;
        appliance->off = false;
        ASSERT_EQ(poll(), 0);
        ASSERT_EQ(backend->state, vm::kRunning);
        backend->serial.Start("198.18.0.2:7000 9600,8,N,1");
        const int restores = suffixRestores;

        appliance->off = c.silent;
        backend->linkResult = c.silent ? 0 : 1;
        EXPECT_EQ(poll(), c.result);
        EXPECT_EQ(backend->state, vm::kStarting);
        EXPECT_EQ(appliance->targets.back(), protocol::kTargetUnknown);
        EXPECT_EQ(backend->info.identityPending, 1);
        EXPECT_EQ(suffixRestores, restores + 1);
        EXPECT_FALSE(serialHolds("198.18.0.2:7000 9600,8,N,1"));
        int routes = -1;
        backend->routes.installedRoutes(&routes);
        EXPECT_EQ(routes, 0);

        // Another failure leaves Starting alone; nothing but the status request was sent.
        const std::size_t from = mark();
        EXPECT_EQ(poll(), c.result);
        EXPECT_EQ(backend->state, vm::kStarting);
        EXPECT_EQ(sentSince(from), std::vector<std::string>{"status"});
    }
    // Back again: the identity goes out although the appliance did not ask for it.
    backend->linkResult = 0;
    appliance->off = false;
    const std::size_t from = mark();
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(backend->state, vm::kRunning);
    EXPECT_EQ(sentSince(from)[1], "identity");
    EXPECT_EQ(backend->info.identityPending, 0);
}

TEST_F(Poll, OutsideRunningTheMacIsReadAgain) {
    ASSERT_EQ(poll(), 0);
    appliance->off = true;
    ASSERT_EQ(poll(), 3);
    ASSERT_EQ(vm::writeSetting(vmx.c_str(), "ethernet0.generatedAddress", "00:0c:29:00:00:09"), 1);
    appliance->off = false;
    // Another appliance's MAC: the simulator does not answer.
    EXPECT_EQ(poll(), 3);
    EXPECT_EQ(appliance->requests.back()->mac().bytes[5], 0x09);
    EXPECT_EQ(backend->state, vm::kStarting);
}

TEST_F(Poll, FailedIdentityEndsThePollButKeepsRunning) {
    struct Case {
        const char* name;
        std::function<void()> breakIt;
        std::function<void()> mendIt;
        int result;
    };
    const Case cases[] = {
        {"host name missing", [&] { identity.hostNameResult = 2; },
         [&] { identity.hostNameResult = 0; }, 2},
        {"no cryptographic provider", [&] { identity.cryptoAvailable = false; },
         [&] { identity.cryptoAvailable = true; }, 1},
        {"no VM UUID", [&] { vm::writeSetting(vmx.c_str(), "uuid.bios", nullptr); },
         [&] { vm::writeSetting(vmx.c_str(), "uuid.location", "56 4d 01 02"); }, 1228},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        backend->info.identityPending = 1;
        c.breakIt();
        const std::string before = readText(vmx);
        const std::size_t from = mark();
        for (int i = 0; i < 2; ++i) { // every poll tries again and fails the same way
            EXPECT_EQ(poll(), c.result);
            EXPECT_EQ(backend->state, vm::kRunning);
            EXPECT_EQ(backend->info.identityPending, 1);
        }
        EXPECT_EQ(sentSince(from), (std::vector<std::string>{"status", "status"}));
        EXPECT_EQ(readText(vmx), before);
        c.mendIt();
    }
    // A UUID with fewer than sixteen numbers is still no UUID.
    EXPECT_EQ(poll(), 1228);
    vm::writeSetting(vmx.c_str(), "uuid.location",
                     "56 4d 01 02 03 04 05 06-07 08 09 0a 0b 0c 0d 0e");
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(backend->info.identityPending, 0);
}

TEST_F(Poll, TextsAndConfigurationsFollowTheAppliance) {
    struct Case {
        const char* name;
        std::vector<const char*> erase; // attributes the appliance does not know
        const char* ostrel;             // null: as configured
        std::vector<std::string> asked;
        const char* quorvane;
        const char* ostrelAfter;
        bool configsFetched;
    };
    const Case cases[] = {
        {"Quorvane unknown", {"F010"}, nullptr, {"get F000.F010"}, "", "", false},
        {"Ostrel unknown",
         {"F011"},
         nullptr,
         {"get F000.F010", "get F000.F011"},
         "Connected",
         "",
         false},
        {"Ostrel empty", {}, "", {"get F000.F010", "get F000.F011"}, "Connected", "", false},
        {"configurations unknown",
         {"F091", "F093", "F094"},
         nullptr,
         {"get F000.F010", "get F000.F011", "get F000.F091", "get F000.F093", "get F000.F094"},
         "Connected",
         "online",
         false},
        {"all there",
         {},
         nullptr,
         {"get F000.F010", "get F000.F011", "get F000.F091", "get F000.F093", "get F000.F094"},
         "Connected",
         "online",
         true},
    };
    ASSERT_EQ(poll(), 0);
    const std::string longLayer2(1500, 'x');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimConfig config;
        std::string error;
        ASSERT_TRUE(sim::parseConfig(kSimConfig, &config, &error));
        config.attributes[{0xF000, 0xF094}].assign(longLayer2.begin(), longLayer2.end());
        for (const char* id : c.erase) {
            config.attributes.erase(
                {0xF000, static_cast<std::uint16_t>(std::stoul(id, nullptr, 16))});
        }
        if (c.ostrel != nullptr) {
            config.attributes[{0xF000, 0xF011}].clear();
        }
        sim() = config;
        // What the owners held before, and stale texts in the record.
        backend->serial.Start("old serial");
        backend->usbip.apply("old usbip");
        backend->layer2.apply("old layer2");
        std::strcpy(backend->info.serialConfig, "stale");
        std::strcpy(backend->info.quorvaneText, "stale");

        const std::size_t from = mark();
        EXPECT_EQ(poll(), 0);
        std::vector<std::string> expected = c.asked;
        expected.insert(expected.begin(), "status");
        expected.push_back("get F000.F080");
        EXPECT_EQ(sentSince(from), expected);
        const ApplianceInfo& info = backend->info;
        EXPECT_STREQ(info.quorvaneText, c.quorvane);
        EXPECT_STREQ(info.ostrelText, c.ostrelAfter);
        if (c.configsFetched) {
            EXPECT_STREQ(info.serialConfig, "198.18.0.2:7000 9600,8,N,1");
            EXPECT_STREQ(info.usbipConfig, "198.18.0.2 1-1");
            EXPECT_EQ(std::string(info.layer2Config), longLayer2.substr(0, 1023));
            // No route is installed: nothing is handed over, the owners keep what they had.
            EXPECT_EQ(backend->usbip.description(), "old usbip");
            EXPECT_EQ(backend->layer2.description(), "old layer2");
            EXPECT_TRUE(serialHolds("old serial"));
        } else {
            // Empty configurations are always handed over: every owner stops.
            EXPECT_STREQ(info.serialConfig, "");
            EXPECT_STREQ(info.usbipConfig, "");
            EXPECT_STREQ(info.layer2Config, "");
            EXPECT_EQ(backend->usbip.description(), "");
            EXPECT_EQ(backend->layer2.description(), "");
            EXPECT_FALSE(serialHolds("old serial"));
        }
    }
}

TEST_F(Poll, OnlyANonEmptyScriptCommandIsRun) {
    sim().scripts = {"[openurl] http://198.18.0.2/", "", std::string(600, 'c')};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(poll(), 0);
    }
    EXPECT_EQ(scripts,
              (std::vector<std::string>{"[openurl] http://198.18.0.2/", std::string(511, 'c')}));
    int queries = 0;
    for (const std::string& s : sentSince(0)) {
        queries += s == "get F000.F080";
    }
    EXPECT_EQ(queries, 4);
}

TEST_F(Poll, MainWindowIsDetachedWhileThePollRuns) {
    int window = 0;
    backend->setMainWindow(&window);
    appliance->windows.clear();
    EXPECT_EQ(poll(), 0); // the whole way
    EXPECT_EQ(appliance->windows, (std::vector<void*>{nullptr, &window}));
    appliance->windows.clear();
    identity.hostNameResult = 2; // ended by the identity
    backend->info.identityPending = 1;
    EXPECT_EQ(poll(), 2);
    EXPECT_EQ(appliance->windows, (std::vector<void*>{nullptr, &window}));
    appliance->windows.clear();
    appliance->off = true; // ended by the failure steps
    EXPECT_EQ(poll(), 3);
    EXPECT_EQ(appliance->windows, (std::vector<void*>{nullptr, &window}));

    backend->setMainWindow(nullptr);
    appliance->windows.clear();
    EXPECT_EQ(poll(), 3);
    EXPECT_TRUE(appliance->windows.empty());
}

TEST_F(Poll, ReportedValuesThatWouldBreakTheFileAreNotWritten) {
    sim().deviceName = "gw\"\nuuid.action = \"create";
    sim().product = "Velmora\tGateway";
    sim().attributes[{0x0200, 0x0280}] = std::vector<std::uint8_t>(80, 's');
    const std::string configured = readText(vmx);
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(readText(vmx),
              configured + "appliance.serialno = \"" + std::string(49, 's') + "\"\n");
    EXPECT_STREQ(backend->info.deviceName, "gw\"\nuuid.action = \"create"); // still shown
    EXPECT_STREQ(backend->readSetting("uuid.action"), "keep");

    struct Case {
        const char* value;
        bool storable;
    };
    for (const Case& c :
         {Case{"gw-01", true}, Case{"", true}, Case{"Velmora 7 (x64) \xe9", true},
          Case{"a\"b", false}, Case{"a\nb", false}, Case{"a\rb", false}, Case{"\x7f", false}}) {
        EXPECT_EQ(isStorableSettingValue(c.value), c.storable) << c.value;
    }
}

TEST_F(Poll, VirtualBoxPollsThroughThePipeFromTheMachineFile) {
    const std::filesystem::path machines = dir.path() / "Machines" / "Velmora";
    std::filesystem::create_directories(machines);
    writeText((machines / "Velmora.xml").string(),
              "<Adapter slot=\"0\" enabled=\"true\" MACAddress=\"000C29E2E201\"/>\n"
              "<Adapter slot=\"1\" enabled=\"true\" MACAddress=\"080027AABBCC\"/>\n");
    vm::testing::CurrentDir inFolder(dir.path());
    backend->backendType = vm::kBackendVBox;
    EXPECT_EQ(poll(), 0);
    EXPECT_EQ(appliance->pipes, std::vector<std::string>{"080027aabbcc"});
    EXPECT_EQ(backend->state, vm::kRunning);
    EXPECT_EQ(poll(), 0); // Running: the machine file is not read again
    EXPECT_EQ(appliance->pipes.size(), 1u);
}

} // namespace
} // namespace velmora::supervision
