#include "vm/cvmx.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "vm/channel_link.h"
#include "vm/cvmx_player.h"
#include "vm/cvmx_vbox.h"
#include "vm/cvmx_workstation.h"
#include "vm/link_check.h"
#include "vm/network_editor.h"
#include "vm/temp_dir.h"

namespace velmora::vm {
namespace {

using testing::readText;
using testing::TempDir;
using testing::writeText;

// Stands in for the virtual COM port pair and records what it was asked.
class RecordingPort : public serial::VirtualPort {
public:
    int current = 0;
    std::vector<int> ensured;
    int GetVirtualPortNumber() override { return current; }
    int EnsureVirtualPort(int n) override {
        ensured.push_back(n);
        if (n != 0) {
            current = n;
        }
        return current;
    }
};

// A backend whose product answers as the test says, with a VM that runs while vmRunning is set.
class FakeBackend : public virtual Cvmx {
public:
    explicit FakeBackend(int type = kBackendPlayer, int setUpResult = 0)
        : setUpResult_(setUpResult) {
        backendType = type;
    }
    ~FakeBackend() override {
        FakeBackend::releaseProcesses();
        FakeBackend::close();
    }
    int open() override {
        state = kOpened;
        return 0;
    }
    int close() override { return closeGeneric(); }
    int prepare() override { return prepareGeneric(); }
    void releaseProcesses() override {
        processHeld = false;
        releaseProcessesGeneric();
    }
    int start(int) override {
        if (state < kStopped) {
            prepare();
        }
        if (state != kStopped) {
            return kErrorNotStopped;
        }
        vmRunning = true;
        state = kStarting;
        return 0;
    }
    int stop() override {
        undoHostConfiguration();
        vmRunning = false;
        releaseProcesses();
        return prepare();
    }
    int pollState(int checkVm, int queryAppliance) override {
        // As the VMware backends do: a held VM process decides while it lives; once it is gone the
        // backend releases it and prepares again; without one, a search decides.
        return pollStateVmware(checkVm, queryAppliance, [this] {
            if (state < kStopped) {
                return;
            }
            if (processHeld && !vmRunning) {
                releaseProcesses();
                prepare();
            } else if (vmRunning) {
                processHeld = true;
                state = state < kStarting ? kStarting : state;
            } else {
                state = kStopped;
            }
        });
    }
    int setUp() override {
        ++setUpCalls;
        return setUpResult_;
    }

    bool vmRunning = false;
    bool processHeld = false;
    int setUpCalls = 0;

private:
    int setUpResult_;
};

class Configure : public ::testing::Test {
protected:
    TempDir dir;
    std::string vmx = dir.file("Velmora.vmx");
};

TEST_F(Configure, MissingConfigVersionRejectsEveryBackend) {
    const std::string content = "displayName = \"Velmora\"\nide0:1.present = \"true\"\n";
    writeText(vmx, content);
    CvmxVBox vbox;
    CvmxPlayer player;
    CvmxWorkstation workstation;
    FakeBackend accepting;
    for (Cvmx* backend : std::initializer_list<Cvmx*>{&vbox, &player, &workstation, &accepting}) {
        EXPECT_EQ(backend->configure(vmx.c_str()), kErrorBadFormat);
        EXPECT_EQ(backend->state, kCreated);
    }
    EXPECT_EQ(readText(vmx), content);
    EXPECT_EQ(chooseBackend(vmx.c_str()).result, kErrorBadFormat);
}

TEST_F(Configure, EnsuresUuidActionAndSecondDisk) {
    struct Case {
        const char* name;
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"keys missing", "config.version = \"8\"\n",
         "config.version = \"8\"\nuuid.action = \"keep\"\nide0:1.present = \"TRUE\"\n"
         "ide0:1.fileName = \"store.vmdk\"\n"},
        {"lower-case true rewritten",
         "config.version = \"8\"\nuuid.action = \"create\"\nide0:1.present = \"true\"\n"
         "ide0:1.fileName = \"other.vmdk\"\n",
         "config.version = \"8\"\nuuid.action = \"create\"\nide0:1.present = \"TRUE\"\n"
         "ide0:1.fileName = \"store.vmdk\"\n"},
        {"already right: untouched",
         "config.version = \"8\"\nuuid.action = \"create\"\nide0:1.present = \"TRUE\"\n"
         "ide0:1.fileName = \"other.vmdk\"",
         "config.version = \"8\"\nuuid.action = \"create\"\nide0:1.present = \"TRUE\"\n"
         "ide0:1.fileName = \"other.vmdk\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeText(vmx, c.before);
        FakeBackend backend;
        EXPECT_EQ(backend.configure(vmx.c_str()), 0);
        EXPECT_EQ(backend.state, kConfigured);
        EXPECT_EQ(readText(vmx), c.after);
        EXPECT_FALSE(testing::exists(vmx + ".tmp"));
    }
}

TEST_F(Configure, LoadsWrittenIdentityWithItsCuts) {
    writeText(vmx, "config.version = \"8\"\n"
                   "appliance.hostname = \"" +
                       std::string(150, 'h') +
                       "\"\n"
                       "appliance.serialno = \"" +
                       std::string(80, 's') +
                       "\"\n"
                       "appliance.productname = \"Velmora Gateway\"\n");
    FakeBackend backend;
    ASSERT_EQ(backend.configure(vmx.c_str()), 0);
    EXPECT_EQ(std::string(backend.info.deviceNameWritten), std::string(99, 'h'));
    EXPECT_EQ(std::string(backend.info.serialNumberWritten), std::string(49, 's'));
    EXPECT_STREQ(backend.info.productNameWritten, "Velmora Gateway");
    EXPECT_STREQ(backend.displayProductName(), "Velmora Gateway");
    std::strcpy(backend.info.productName, "Live");
    EXPECT_STREQ(backend.displayProductName(), "Live");
    EXPECT_EQ(backend.vmxPath, vmx);
}

TEST_F(Configure, StoredComPortIsHandedToThePortOwner) {
    struct Case {
        const char* comport; // null: no key
        int current;
        std::vector<int> ensured;
    };
    const Case cases[] = {
        {"COM7", 3, {7}}, {"7", 7, {}}, {"0", 3, {}}, {"none", 3, {}}, {nullptr, 3, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.comport ? c.comport : "(absent)");
        std::string text = "config.version = \"8\"\n";
        if (c.comport != nullptr) {
            text += std::string("comport = \"") + c.comport + "\"\n";
        }
        writeText(vmx, text);
        RecordingPort port;
        port.current = c.current;
        FakeBackend backend;
        backend.serial.setVirtualPort(port);
        EXPECT_EQ(backend.configure(vmx.c_str()), 0);
        EXPECT_EQ(port.ensured, c.ensured);
    }
}

TEST_F(Configure, SetUpResultDecides) {
    const std::string content = "config.version = \"8\"\n";
    writeText(vmx, content);
    {
        FakeBackend refusing(kBackendPlayer, kErrorNotInstalled);
        EXPECT_EQ(refusing.configure(vmx.c_str()), kErrorNotInstalled);
        EXPECT_EQ(refusing.state, kCreated);
        EXPECT_EQ(readText(vmx), content); // nothing written before set-up succeeded
    }
    {
        FakeBackend incomplete(kBackendPlayer, kErrorNotActive);
        EXPECT_EQ(incomplete.configure(vmx.c_str()), kErrorNotActive);
        EXPECT_EQ(incomplete.state, kConfigured);
        EXPECT_STREQ(incomplete.readSetting("uuid.action"), "keep");
    }
}

TEST_F(Configure, OneProtocolChannelPerProgram) {
    writeText(vmx, "config.version = \"8\"\n");
    auto first = std::make_unique<FakeBackend>();
    ASSERT_EQ(first->configure(vmx.c_str()), 0);
    FakeBackend second;
    EXPECT_EQ(second.configure(vmx.c_str()), kErrorChannel);
    EXPECT_EQ(second.state, kCreated);
    ASSERT_NE(requestChannel(), nullptr);
    EXPECT_EQ(requestChannel()->target(), protocol::kTargetUnknown);
    first.reset(); // destroying a configured backend destroys the channel
    EXPECT_EQ(requestChannel(), nullptr);
    FakeBackend third;
    EXPECT_EQ(third.configure(vmx.c_str()), 0);
    EXPECT_NE(requestChannel(), nullptr);
}

TEST_F(Configure, ChannelRunsOverTheChosenTransportAndWindow) {
    struct RecordingTransport : protocol::ITransport {
        void** window;
        explicit RecordingTransport(void** w) : window(w) {}
        int send(const protocol::PacketBuffer&) override { return protocol::kRawIoFailed; }
        int receive(std::unique_ptr<protocol::PacketBuffer>*, std::uint32_t*) override {
            return protocol::kRawTimeout;
        }
        void reset() override {}
        void setTarget(std::uint32_t) override {}
        void openPipe(const char*) override {}
        void setWindow(void* w) override { *window = w; }
        void suspendNotifications() override {}
        void resumeNotifications() override {}
        void postNotification() override {}
    };
    void* bound = nullptr;
    setChannelTransportFactory([&] { return std::make_unique<RecordingTransport>(&bound); });
    writeText(vmx, "config.version = \"8\"\n");
    {
        FakeBackend vm;
        ASSERT_EQ(vm.configure(vmx.c_str()), 0);
        int window = 0;
        vm.setMainWindow(&window);
        EXPECT_EQ(vm.mainWindow, &window);
        EXPECT_EQ(bound, &window);
    }
    setChannelTransportFactory(nullptr);
}

TEST_F(Configure, ChooseBackend) {
    writeText(vmx, "config.version = \"8\"\n");
    // The product backends all refuse for now.
    BackendChoice none = chooseBackend(vmx.c_str());
    EXPECT_EQ(none.result, kErrorNotInstalled);
    EXPECT_EQ(none.backend, nullptr);

    // A backend rejected with 1062 was configured; its destruction frees the channel for the next.
    std::vector<int> tried;
    const BackendFactory factories[] = {
        [&] {
            tried.push_back(4);
            return std::unique_ptr<Cvmx>(new FakeBackend(kBackendVBox, kErrorNotActive));
        },
        [&] {
            tried.push_back(1);
            return std::unique_ptr<Cvmx>(new FakeBackend(kBackendPlayer, 0));
        },
        [&] {
            tried.push_back(2);
            return std::unique_ptr<Cvmx>(new FakeBackend(kBackendWorkstation, 0));
        },
    };
    BackendChoice choice = chooseBackend(vmx.c_str(), factories, 3);
    EXPECT_EQ(choice.result, 0);
    ASSERT_NE(choice.backend, nullptr);
    EXPECT_EQ(choice.backend->backendType, kBackendPlayer);
    EXPECT_EQ(choice.backend->state, kConfigured);
    EXPECT_EQ(tried, (std::vector<int>{4, 1}));
}

TEST(CvmxBackends, ConstructionAndRefusingBackends) {
    CvmxPlayer player;
    CvmxWorkstation workstation;
    EXPECT_EQ(player.backendType, kBackendPlayer);
    EXPECT_EQ(workstation.backendType, kBackendWorkstation);
    EXPECT_EQ(player.state, kCreated);
    EXPECT_EQ(player.info.identityPending, 1);
    EXPECT_STREQ(player.pipeName, "");
    EXPECT_EQ(player.setUp(), kErrorNotInstalled);
    EXPECT_EQ(workstation.setUp(), kErrorNotInstalled);

    // From Configured, start prepares (Stopped); without set-up no Player can be created.
    player.state = kConfigured;
    EXPECT_EQ(player.start(0), kErrorNotStopped);
    EXPECT_EQ(player.state, kStopped);
    player.state = kCreated; // the test never created the channel
}

TEST(CvmxBackends, VBoxSetsUserHomeToCurrentDirectory) {
    TempDir dir;
    testing::CurrentDir cwd(dir.path());
    CvmxVBox vbox;
    EXPECT_EQ(vbox.backendType, kBackendVBox);
#ifndef _WIN32 // on Windows the variable lives in the process block; see the Windows tests
    const char* home = std::getenv("VBOX_USER_HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(std::filesystem::path(home), std::filesystem::current_path());
#endif
    // VirtualBox opens through its set-up, which refuses.
    EXPECT_EQ(vbox.open(), kErrorNotInstalled);
    EXPECT_EQ(vbox.state, kCreated);
}

TEST(CvmxBackends, StartWhileRunningChangesNothing) {
    CvmxPlayer player;
    CvmxVBox vbox;
    FakeBackend fake;
    for (Cvmx* backend : std::initializer_list<Cvmx*>{&player, &vbox, &fake}) {
        backend->state = kRunning;
        EXPECT_EQ(backend->start(0), kErrorNotStopped);
        EXPECT_EQ(backend->state, kRunning);
        backend->state = kStarting;
        EXPECT_EQ(backend->start(1), kErrorNotStopped);
        EXPECT_EQ(backend->state, kStarting);
        backend->state = kCreated;
    }
}

TEST(CvmxBackends, LifecycleThroughTheGenericOperations) {
    FakeBackend vm;
    vm.state = kConfigured;
    EXPECT_EQ(vm.prepare(), 0);
    EXPECT_EQ(vm.state, kStopped);

    EXPECT_EQ(vm.start(0), 0);
    EXPECT_EQ(vm.state, kStarting);
    EXPECT_EQ(vm.pollState(1, 0), kStarting);
    vm.state = kRunning; // as a good status poll would
    // Without a protocol channel no appliance answers: the poll turns Running into Starting.
    EXPECT_EQ(vm.pollState(1, 1), kStarting);

    vm.vmRunning = false; // the VM went away: released, prepared again
    EXPECT_EQ(vm.pollState(1, 0), kStopped);

    vm.vmRunning = true; // found running again by prepare's first look
    vm.state = kOpened;
    EXPECT_EQ(vm.prepare(), 0);
    EXPECT_EQ(vm.state, kStarting);

    vm.releaseProcesses();
    EXPECT_EQ(vm.state, kOpened);
    vm.close();
    EXPECT_EQ(vm.state, kConfigured);
    vm.close();
    EXPECT_EQ(vm.state, kConfigured);
    vm.state = kCreated;
}

TEST(CvmxBackends, DisplayTextsOnlyWhileRunning) {
    FakeBackend vm;
    std::strcpy(vm.info.quorvaneText, "online");
    std::strcpy(vm.info.ostrelText, "connected");
    vm.usbip.apply("192.168.5.1 1-1 [Camera]");
    vm.info.address = ipv4(192, 168, 5, 77);
    EXPECT_STREQ(vm.addressText(), "192.168.5.77");
    vm.state = kStarting;
    EXPECT_EQ(vm.quorvaneText(), nullptr);
    EXPECT_EQ(vm.ostrelText(), nullptr);
    EXPECT_EQ(vm.usbipDescription(), "");
    vm.state = kRunning;
    EXPECT_STREQ(vm.quorvaneText(), "online");
    EXPECT_STREQ(vm.ostrelText(), "connected");
    EXPECT_EQ(vm.usbipDescription(), "192.168.5.1 1-1 [Camera]");
    vm.info.ostrelText[0] = '\0';
    EXPECT_EQ(vm.usbipDescription(), "");
    vm.state = kCreated;
}

TEST(CvmxBackends, ReadApplianceMacFillsTheRecord) {
    TempDir dir;
    const std::string vmx = dir.file("Velmora.vmx");
    writeText(vmx, "ethernet0.generatedAddress = \"00:0c:29:4f:11:a2\"\n");
    FakeBackend vm;
    vm.vmxPath = vmx;
    EXPECT_TRUE(vm.info.mac.isZero());
    EXPECT_EQ(vm.readApplianceMac(vm.backendType), 0);
    EXPECT_EQ(vm.info.mac.bytes, (std::array<std::uint8_t, 6>{0x00, 0x0c, 0x29, 0x4f, 0x11, 0xa2}));
}

TEST(CvmxBackends, SetComPort) {
    TempDir dir;
    const std::string vmx = dir.file("Velmora.vmx");
    writeText(vmx, "config.version = \"8\"\n");
    FakeBackend vm;
    RecordingPort port;
    vm.serial.setVirtualPort(port);
    vm.vmxPath = vmx;
    EXPECT_EQ(vm.setComPort("COM7"), 7);
    EXPECT_STREQ(vm.getComPort(), "7");
    EXPECT_EQ(vm.setComPort("none"), 7); // the pair keeps its number
    EXPECT_EQ(vm.getComPort(), nullptr);
    EXPECT_EQ(port.ensured, (std::vector<int>{7, 0}));
}

TEST(LinkCheck, AddressRuleAndSubnetTable) {
    const HostAddress hosts[] = {
        {ipv4(127, 0, 0, 1), ipv4(255, 0, 0, 0)},
        {ipv4(0, 0, 0, 0), ipv4(0, 0, 0, 0)}, // an unusable entry matches nothing
        {ipv4(192, 168, 5, 1), ipv4(255, 255, 255, 0)},
        {ipv4(10, 1, 0, 9), ipv4(255, 255, 0, 0)},
    };
    struct Case {
        std::uint32_t appliance;
        int problem;
    };
    const Case cases[] = {
        {ipv4(0, 0, 0, 0), 1},       {ipv4(127, 0, 0, 1), 1},    {ipv4(127, 9, 9, 9), 1},
        {ipv4(239, 1, 1, 1), 1},     {ipv4(224, 0, 0, 0), 1},    {ipv4(255, 255, 255, 255), 1},
        {ipv4(192, 168, 5, 77), 0},  {ipv4(192, 168, 6, 77), 1}, {ipv4(10, 1, 200, 3), 0},
        {ipv4(223, 255, 255, 1), 1}, {ipv4(10, 2, 0, 1), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(linkProblem(c.appliance, hosts, std::size(hosts)), c.problem)
            << std::hex << c.appliance;
    }
    EXPECT_EQ(linkProblem(ipv4(192, 168, 5, 77), nullptr, 0), 1);
    EXPECT_TRUE(isUsableUnicast(ipv4(223, 255, 255, 255)));
    EXPECT_FALSE(isUsableUnicast(ipv4(224, 0, 0, 1)));
}

TEST(LinkCheck, CheckLinkReadsTheHostTable) {
    std::vector<HostAddress> table;
    ASSERT_EQ(readHostAddressTable(&table), 0);
    FakeBackend vm;
    vm.info.address = 0;
    EXPECT_EQ(vm.checkLink(), 1);
    vm.info.address = ipv4(127, 0, 0, 1);
    EXPECT_EQ(vm.checkLink(), 1);
    for (const HostAddress& host : table) {
        if (isUsableUnicast(host.address)) {
            vm.info.address = host.address; // the host's own subnet is reachable
            EXPECT_EQ(vm.checkLink(), 0);
            break;
        }
    }
}

TEST(NetworkEditor, CommandFromOpenCommandTable) {
    struct Case {
        const char* value;
        const char* command;
    };
    const Case cases[] = {
        {"\"C:\\Program Files\\VMware\\VMware Player\\vmplayer.exe\" \"%1\"",
         "\"C:\\Program Files\\VMware\\VMware Player\\vmnetcfg.exe\""},
        {"C:\\VMware\\vmplayer.exe %1", "C:\\VMware\\vmnetcfg.exe"},
        {"'C:/Program Files/VMware/vmware.exe' '%1'", "'C:/Program Files/VMware/vmnetcfg.exe'"},
        {"vmplayer.exe \"%1\"", "vmnetcfg.exe"},
        {"C:\\a\"b c\"\\vmplayer.exe %1", "C:\\a\"b c\"\\vmnetcfg.exe"},
        {"\"C:\\VMware\\vmplayer.exe", "\"C:\\VMware\\vmnetcfg.exe\""}, // unterminated quote
        {"C:\\tools\\ \\x.exe", "C:\\tools\\vmnetcfg.exe"}, // a space ends the program path
    };
    for (const Case& c : cases) {
        EXPECT_EQ(networkEditorFromOpenCommand(c.value, std::strlen(c.value)), c.command)
            << c.value;
    }
    // Registry data need not be terminated: the length bounds it, a zero byte ends it early.
    const char unterminated[] = {'C', ':', '\\', 'v', 'm', '.', 'e', 'x', 'e', 'X'};
    EXPECT_EQ(networkEditorFromOpenCommand(unterminated, 9), "C:\\vmnetcfg.exe");
    const char embedded[] = {'C', ':', '\\', 'a', '\0', '\\', 'b'};
    EXPECT_EQ(networkEditorFromOpenCommand(embedded, sizeof embedded), "C:\\vmnetcfg.exe");
}

} // namespace
} // namespace velmora::vm
