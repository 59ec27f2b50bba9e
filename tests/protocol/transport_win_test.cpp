// The Winsock transport under Wine. Tests named TransportWin send nothing over UDP and run
// anywhere; tests named TransportNs send datagrams and run only inside the private network
// namespaces the end-to-end runner makes (they skip elsewhere).
#include "protocol/transport_win.h"

#include <gtest/gtest.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/tick.h"
#include "protocol/log_line.h"
#include "protocol/pipe_header.h"

namespace velmora::protocol {
namespace {

std::uint32_t ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

unsigned be16(const std::uint8_t* at) {
    return (at[0] << 8) | at[1];
}

AdapterDescription adapter(std::uint32_t index, std::uint32_t address,
                           std::vector<AdapterPrefix> prefixes = {}) {
    AdapterDescription a;
    a.index = index;
    a.operUp = true;
    a.hasUnicast = true;
    a.unicastIsIpv4 = true;
    a.address = address;
    a.prefixes = std::move(prefixes);
    return a;
}

// An adapter table the test changes at will.
struct FakeAdapters {
    std::vector<AdapterDescription> adapters;
    bool available = true;
    int calls = 0;
    bool lastIncludePrefix = false;

    AdapterSource source() {
        return [this](bool includePrefix, std::vector<AdapterDescription>* out) {
            ++calls;
            lastIncludePrefix = includePrefix;
            *out = adapters;
            return available;
        };
    }
};

// Captures the protocol log of one test.
class LogCapture {
public:
    LogCapture() : stream_(std::tmpfile()) { setLogStream(stream_); }
    ~LogCapture() {
        setLogStream(nullptr);
        std::fclose(stream_);
    }
    std::string text() {
        std::string all;
        std::rewind(stream_);
        char chunk[512];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, stream_)) > 0) {
            all.append(chunk, n);
        }
        std::fseek(stream_, 0, SEEK_END);
        return all;
    }
    bool has(const std::string& piece) { return text().find(piece) != std::string::npos; }

private:
    std::FILE* stream_;
};

std::string num(SOCKET s) {
    return std::to_string(static_cast<int>(s));
}

// The far end of the virtual machine's pipe.
class PipeServer {
public:
    PipeServer() {
        name_ = "velmora-transport-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                std::to_string(counter_++);
        const std::string path = "\\\\.\\pipe\\" + name_;
        handle_.reset(::CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX,
                                         PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                         8192, 8192, 0, nullptr));
    }
    bool valid() const { return handle_.valid(); }
    const char* name() const { return name_.c_str(); }
    bool write(const std::vector<std::uint8_t>& message) {
        DWORD written = 0;
        return ::WriteFile(handle_.get(), message.data(), static_cast<DWORD>(message.size()),
                           &written, nullptr) &&
               written == message.size();
    }
    // One message, waiting at most two seconds for it.
    bool read(std::vector<std::uint8_t>* message) {
        const std::uint64_t deadline = tickMs() + 2000;
        DWORD total = 0;
        while (::PeekNamedPipe(handle_.get(), nullptr, 0, nullptr, &total, nullptr) && total == 0 &&
               tickMs() < deadline) {
            ::Sleep(10);
        }
        if (total == 0) {
            return false;
        }
        message->resize(8192);
        DWORD got = 0;
        if (!::ReadFile(handle_.get(), message->data(), 8192, &got, nullptr)) {
            return false;
        }
        message->resize(got);
        return true;
    }
    // A datagram wrapped as the appliance side wraps it.
    static std::vector<std::uint8_t> wrap(const std::string& payload, std::uint32_t source) {
        std::vector<std::uint8_t> packet(kPipeHeaderSize + payload.size());
        buildPipeHeader(packet.data(), static_cast<int>(payload.size()), 7, ip(198, 18, 0, 1));
        std::memcpy(packet.data() + 12, &source, 4);
        std::memcpy(packet.data() + kPipeHeaderSize, payload.data(), payload.size());
        return packet;
    }

private:
    static inline int counter_ = 0;
    std::string name_;
    unique_hfile handle_;
};

// A hidden window that receives the appliance message.
class TestWindow {
public:
    TestWindow() {
        // A message-only window: needs no display.
        WNDCLASSA cls{};
        cls.lpfnWndProc = ::DefWindowProcA;
        cls.hInstance = ::GetModuleHandleA(nullptr);
        cls.lpszClassName = "VelmoraTransportTestWindow";
        ::RegisterClassA(&cls); // a second registration fails harmlessly
        hwnd_ = ::CreateWindowExA(0, cls.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  cls.hInstance, nullptr);
    }
    ~TestWindow() { ::DestroyWindow(hwnd_); }
    HWND get() const { return hwnd_; }
    // True when WM_APPLIANCE arrived within `ms`; its parameters go to `got`.
    bool waitForApplianceMessage(unsigned ms, MSG* got = nullptr) {
        const std::uint64_t deadline = tickMs() + ms;
        do {
            MSG msg;
            while (::PeekMessageA(&msg, hwnd_, 0, 0, PM_REMOVE)) {
                if (msg.message == kWmAppliance) {
                    if (got != nullptr) {
                        *got = msg;
                    }
                    return true;
                }
                ::DispatchMessageA(&msg);
            }
            ::Sleep(10);
        } while (tickMs() < deadline);
        return false;
    }

private:
    HWND hwnd_ = nullptr;
};

std::unique_ptr<PacketBuffer> datagramOf(int length, std::uint8_t seed) {
    auto buffer = PacketBuffer::create(length);
    for (int i = 0; i < length; ++i) {
        buffer->start()[i] = static_cast<std::uint8_t>(seed + i);
    }
    return buffer;
}

TEST(TransportWin, OpensFallbackAndOneSocketPerQualifyingInterface) {
    LogCapture log;
    FakeAdapters fake;
    AdapterDescription down = adapter(9, ip(198, 18, 9, 1));
    down.operUp = false;
    fake.adapters = {adapter(1, ip(127, 0, 0, 1)), adapter(7, ip(198, 18, 7, 1)), down};
    WinsockTransport transport(kTargetUnknown, fake.source());
    ASSERT_NE(transport.fallbackSocket(), INVALID_SOCKET);
    ASSERT_EQ(transport.interfaceSocketCount(), 1u);
    EXPECT_FALSE(fake.lastIncludePrefix);
    EXPECT_EQ(transport.target(), kTargetUnknown);
    EXPECT_FALSE(transport.pipeOpen());
    EXPECT_TRUE(log.has("Opening socket #0 [" + num(transport.interfaceSocket(0)) +
                        "] for interface 7 using address 198.18.7.1\n"));
    EXPECT_TRUE(log.has("Opening fallback socket [" + num(transport.fallbackSocket()) + "]\n"));

    for (bool available : {true, false}) {
        FakeAdapters none;
        none.adapters = {adapter(1, ip(127, 0, 0, 1))};
        none.available = available;
        WinsockTransport loopbackOnly(kTargetUnknown, none.source());
        EXPECT_EQ(loopbackOnly.interfaceSocketCount(), 0u);
        EXPECT_NE(loopbackOnly.fallbackSocket(), INVALID_SOCKET);
    }
}

TEST(TransportWin, ResetChoosesByPrefixForTheKnownTargetThenForgetsIt) {
    LogCapture log;
    FakeAdapters fake;
    fake.adapters = {
        adapter(1, ip(10, 0, 0, 4), {{ip(10, 0, 0, 0), 8}}),
        adapter(2, ip(192, 168, 10, 9), {{ip(192, 168, 10, 9), 32}, {ip(192, 168, 10, 0), 24}}),
        adapter(3, ip(172, 16, 0, 1), {{ip(0, 0, 0, 0), 0}}),
    };
    WinsockTransport transport(kTargetUnknown, fake.source());
    TestWindow window;
    transport.setWindow(window.get());
    EXPECT_EQ(transport.interfaceSocketCount(), 3u);

    transport.setTarget(ip(192, 168, 10, 5)); // unknown -> known: no reset
    EXPECT_TRUE(log.has("Connecting to 192.168.10.5\n"));
    EXPECT_FALSE(log.has("Trying to work around winsock bug!"));
    EXPECT_EQ(transport.interfaceSocketCount(), 3u);

    transport.reset();
    EXPECT_TRUE(log.has("Trying to work around winsock bug!\n"));
    EXPECT_TRUE(fake.lastIncludePrefix);
    ASSERT_EQ(transport.interfaceSocketCount(), 1u);
    EXPECT_TRUE(log.has("Interface 2 prefix: 192.168.10.0/24\n"));
    EXPECT_TRUE(log.has("for interface 2 using address 192.168.10.9\n"));
    EXPECT_EQ(transport.target(), kTargetUnknown);
    EXPECT_EQ(transport.window(), window.get());
}

TEST(TransportWin, KnownToUnknownTargetResetsAndClosesThePipe) {
    LogCapture log;
    FakeAdapters fake;
    WinsockTransport transport(kTargetUnknown, fake.source());
    transport.openPipe("velmora-no-such-pipe");
    EXPECT_FALSE(transport.pipeOpen());
    EXPECT_FALSE(log.has("Connected to"));

    PipeServer server;
    ASSERT_TRUE(server.valid());
    transport.openPipe(server.name());
    ASSERT_TRUE(transport.pipeOpen());
    EXPECT_TRUE(log.has(std::string("Connected to \\\\.\\pipe\\") + server.name() + "\n"));

    transport.setTarget(ip(198, 18, 0, 2));
    EXPECT_TRUE(transport.pipeOpen());
    EXPECT_FALSE(log.has("Trying to work around winsock bug!"));
    transport.setTarget(ip(198, 18, 0, 3)); // known -> known: no reset either
    EXPECT_FALSE(log.has("Trying to work around winsock bug!"));

    transport.setTarget(kTargetUnknown);
    EXPECT_TRUE(log.has("Trying to work around winsock bug!\n"));
    EXPECT_TRUE(log.has("Connecting to 255.255.255.255\n"));
    EXPECT_FALSE(transport.pipeOpen());
    EXPECT_EQ(transport.target(), kTargetUnknown);
}

TEST(TransportWin, PipeReceiveUnwrapsAndDropsForeignPackets) {
    LogCapture log;
    FakeAdapters fake;
    WinsockTransport transport(kTargetUnknown, fake.source());
    PipeServer server;
    ASSERT_TRUE(server.valid());
    transport.openPipe(server.name());
    ASSERT_TRUE(transport.pipeOpen());

    const std::uint32_t appliance = ip(198, 18, 0, 2);
    std::vector<std::uint8_t> shortPacket = PipeServer::wrap("", appliance);
    shortPacket.pop_back(); // 27 bytes
    std::vector<std::uint8_t> notIpv4 = PipeServer::wrap("IMCRx", appliance);
    notIpv4[0] = 0x46;
    std::vector<std::uint8_t> notUdp = PipeServer::wrap("IMCRx", appliance);
    notUdp[9] = 6;
    for (const auto& foreign : {shortPacket, notIpv4, notUdp}) {
        ASSERT_TRUE(server.write(foreign));
        std::unique_ptr<PacketBuffer> datagram;
        std::uint32_t source = 0;
        EXPECT_EQ(transport.receive(&datagram, &source), kRawTimeout);
        EXPECT_EQ(datagram, nullptr);
    }
    EXPECT_FALSE(log.has("Receive on pipe"));

    ASSERT_TRUE(server.write(PipeServer::wrap("IMCR!", appliance)));
    std::unique_ptr<PacketBuffer> datagram;
    std::uint32_t source = 0;
    ASSERT_EQ(transport.receive(&datagram, &source), kRawOk);
    EXPECT_EQ(source, appliance);
    ASSERT_EQ(datagram->remaining(), 5u);
    EXPECT_EQ(std::memcmp(datagram->data(), "IMCR!", 5), 0);
    EXPECT_TRUE(log.has("Receive on pipe from 198.18.0.2: 5\n"));
}

TEST(TransportWin, PostNotificationReachesTheWindowOnlyWhenOneIsSet) {
    FakeAdapters fake;
    WinsockTransport transport(kTargetUnknown, fake.source());
    transport.postNotification(); // no window: nothing happens
    transport.suspendNotifications();
    transport.resumeNotifications();
    TestWindow window;
    EXPECT_FALSE(window.waitForApplianceMessage(50));
    transport.setWindow(window.get());
    transport.postNotification();
    MSG msg{};
    ASSERT_TRUE(window.waitForApplianceMessage(1000, &msg));
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_EQ(msg.lParam, 0);
}

// ---- Tests that send datagrams: only inside the private namespaces. ----

bool insideNamespaces() {
    return std::getenv("VELMORA_NS_HOST") != nullptr;
}

#define REQUIRE_NAMESPACES()                                                                       \
    if (!insideNamespaces()) {                                                                     \
        GTEST_SKIP() << "sends datagrams: runs only under scripts/netns-run";                      \
    }

// A socket that plays a sender on the host side's loopback.
class LoopbackPeer {
public:
    LoopbackPeer() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        socket_.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    }
    ~LoopbackPeer() {
        socket_.reset();
        ::WSACleanup();
    }
    bool sendToTransport(const std::string& bytes) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kAppliancePort);
        to.sin_addr.s_addr = ip(127, 0, 0, 1);
        return ::sendto(socket_.get(), bytes.data(), static_cast<int>(bytes.size()), 0,
                        reinterpret_cast<const sockaddr*>(&to),
                        sizeof to) == static_cast<int>(bytes.size());
    }

private:
    unique_socket socket_;
};

TEST(TransportNs, PipeSendWrapsEachDatagramInASyntheticHeader) {
    REQUIRE_NAMESPACES();
    LogCapture log;
    FakeAdapters fake;
    WinsockTransport transport(kTargetUnknown, fake.source());
    PipeServer server;
    ASSERT_TRUE(server.valid());
    transport.openPipe(server.name());
    const std::uint32_t target = ip(198, 18, 0, 2);
    transport.setTarget(target);

    struct Case {
        int length;
        unsigned sent; // cut to 2048 on the pipe
    } cases[] = {{2048, 2048}, {10, 10}, {2100, 2048}};
    unsigned expectedId = 0;
    for (const Case& c : cases) {
        auto datagram = datagramOf(c.length, static_cast<std::uint8_t>(c.length));
        ASSERT_EQ(transport.send(*datagram), kRawOk);
        std::vector<std::uint8_t> packet;
        ASSERT_TRUE(server.read(&packet));
        ASSERT_EQ(packet.size(), c.sent + 28);
        EXPECT_EQ(packet[0], 0x45);
        EXPECT_EQ(be16(&packet[2]), c.sent + 28);
        EXPECT_EQ(be16(&packet[4]), expectedId++);
        EXPECT_EQ(be16(&packet[6]), 0u);
        EXPECT_EQ(packet[8], 16);
        EXPECT_EQ(packet[9], 17);
        EXPECT_EQ(internetChecksum(packet.data(), 20), 0) << "header checksum";
        EXPECT_EQ(std::memcmp(&packet[12], "\0\0\0\0", 4), 0);
        EXPECT_EQ(std::memcmp(&packet[16], &target, 4), 0);
        EXPECT_EQ(be16(&packet[20]), 8888u);
        EXPECT_EQ(be16(&packet[22]), 8888u);
        EXPECT_EQ(be16(&packet[24]), c.sent + 8);
        EXPECT_EQ(be16(&packet[26]), 0u);
        EXPECT_EQ(std::memcmp(&packet[28], datagram->data(), c.sent), 0);
        EXPECT_TRUE(log.has("Sending on pipe to 198.18.0.2: " + std::to_string(c.sent) + "\n"));
    }
    // The UDP path runs as well, through the fallback socket only (the target is known).
    EXPECT_TRUE(log.has("Sending on socket [" + num(transport.fallbackSocket()) +
                        "] to 198.18.0.2: 2048\n"));

    // The answer comes back through the pipe.
    ASSERT_TRUE(server.write(PipeServer::wrap("IMCR-answer", target)));
    std::unique_ptr<PacketBuffer> reply;
    std::uint32_t source = 0;
    ASSERT_EQ(transport.receive(&reply, &source), kRawOk);
    EXPECT_EQ(source, target);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(reply->data()), reply->remaining()),
              "IMCR-answer");
}

TEST(TransportNs, SendDrainsSocketsAndPipeFirst) {
    REQUIRE_NAMESPACES();
    FakeAdapters fake;
    WinsockTransport transport(kTargetUnknown, fake.source());
    PipeServer server;
    ASSERT_TRUE(server.valid());
    transport.openPipe(server.name());
    transport.setTarget(ip(198, 18, 0, 2));
    LoopbackPeer peer;
    ASSERT_TRUE(peer.sendToTransport("IMCR-stale"));
    ASSERT_TRUE(server.write(PipeServer::wrap("IMCR-stale", ip(198, 18, 0, 2))));
    ::Sleep(50);

    ASSERT_EQ(transport.send(*datagramOf(20, 1)), kRawOk);
    std::unique_ptr<PacketBuffer> datagram;
    std::uint32_t source = 0;
    EXPECT_EQ(transport.receive(&datagram, &source), kRawTimeout);

    // Without a send in between, what arrives is received.
    ASSERT_TRUE(peer.sendToTransport("IMCR-fresh"));
    ASSERT_EQ(transport.receive(&datagram, &source), kRawOk);
    EXPECT_EQ(source, ip(127, 0, 0, 1));
    EXPECT_EQ(datagram->remaining(), 10u);
}

TEST(TransportNs, WindowNotificationsAreSuspendedAndResumed) {
    REQUIRE_NAMESPACES();
    FakeAdapters fake;
    WinsockTransport transport(kTargetUnknown, fake.source());
    TestWindow window;
    transport.setWindow(window.get());
    LoopbackPeer peer;
    std::unique_ptr<PacketBuffer> datagram;
    std::uint32_t source = 0;

    ASSERT_TRUE(peer.sendToTransport("IMCN-1"));
    MSG msg{};
    ASSERT_TRUE(window.waitForApplianceMessage(2000, &msg));
    EXPECT_EQ(msg.wParam, transport.fallbackSocket()); // Winsock names the socket and the event
    EXPECT_EQ(WSAGETSELECTEVENT(msg.lParam), FD_READ);
    ASSERT_EQ(transport.receive(&datagram, &source), kRawOk);

    transport.suspendNotifications();
    ASSERT_TRUE(peer.sendToTransport("IMCN-2"));
    EXPECT_FALSE(window.waitForApplianceMessage(300));
    ASSERT_EQ(transport.receive(&datagram, &source), kRawOk); // still readable, and non-blocking
    EXPECT_EQ(transport.receive(&datagram, &source), kRawTimeout);

    transport.resumeNotifications();
    ASSERT_TRUE(peer.sendToTransport("IMCN-3"));
    EXPECT_TRUE(window.waitForApplianceMessage(2000));
}

TEST(TransportNs, AddressChangeRebuildsInterfaceSocketsBeforeTheNextBroadcast) {
    REQUIRE_NAMESPACES();
    LogCapture log;
    FakeAdapters fake;
    fake.adapters = {adapter(5, ip(198, 18, 0, 1))};
    WinsockTransport transport(kTargetUnknown, fake.source());
    ASSERT_EQ(transport.interfaceSocketCount(), 1u);
    ASSERT_NE(transport.addressChangeEvent(), nullptr);

    ASSERT_EQ(transport.send(*datagramOf(16, 2)), kRawOk);
    EXPECT_TRUE(log.has("Sending on socket [" + num(transport.interfaceSocket(0)) +
                        "] to 255.255.255.255: 16\n"));
    EXPECT_FALSE(log.has("Sending on socket [" + num(transport.fallbackSocket()) + "]"));

    // A changed table alone is not looked at...
    fake.adapters.push_back(adapter(6, ip(198, 18, 0, 1)));
    ASSERT_EQ(transport.send(*datagramOf(16, 2)), kRawOk);
    EXPECT_EQ(transport.interfaceSocketCount(), 1u);
    // ...until the address-change event says so.
    ASSERT_TRUE(::SetEvent(transport.addressChangeEvent()));
    ASSERT_EQ(transport.send(*datagramOf(16, 2)), kRawOk);
    EXPECT_EQ(transport.interfaceSocketCount(), 2u);
    EXPECT_EQ(::WaitForSingleObject(transport.addressChangeEvent(), 0), WAIT_TIMEOUT);

    // With a known target the change waits for the next broadcast.
    transport.setTarget(ip(198, 18, 0, 2));
    fake.adapters.pop_back();
    ASSERT_TRUE(::SetEvent(transport.addressChangeEvent()));
    ASSERT_EQ(transport.send(*datagramOf(16, 2)), kRawOk);
    EXPECT_EQ(transport.interfaceSocketCount(), 2u);
    EXPECT_EQ(::WaitForSingleObject(transport.addressChangeEvent(), 0), WAIT_OBJECT_0);
}

TEST(TransportNs, WithoutInterfaceSocketsBroadcastsGoThroughTheFallback) {
    REQUIRE_NAMESPACES();
    LogCapture log;
    FakeAdapters fake;
    fake.adapters = {adapter(1, ip(127, 0, 0, 1))};
    WinsockTransport transport(kTargetUnknown, fake.source());
    ASSERT_EQ(transport.interfaceSocketCount(), 0u);
    ASSERT_EQ(transport.send(*datagramOf(24, 3)), kRawOk);
    EXPECT_TRUE(log.has("Sending on socket [" + num(transport.fallbackSocket()) +
                        "] to 255.255.255.255: 24\n"));
}

TEST(TransportNs, RealAdapterTableGivesTheVethInterface) {
    REQUIRE_NAMESPACES();
    LogCapture log;
    WinsockTransport transport(kTargetUnknown);
    ASSERT_EQ(transport.interfaceSocketCount(), 1u) << log.text();
    EXPECT_TRUE(log.has("using address 198.18.0.1\n")) << log.text();
    transport.setTarget(ip(198, 18, 0, 2));
    transport.reset();
    EXPECT_EQ(transport.interfaceSocketCount(), 1u) << log.text();
    EXPECT_TRUE(log.has("prefix: 198.18.0.0/24\n")) << log.text();
}

} // namespace
} // namespace velmora::protocol
