// Forwarding under Wine with a stand-in adapter (a message-mode pipe served by the test) and a
// real TCP connection. These tests move frames, so they run only inside the private network
// namespaces of scripts/netns-run (tests/e2e/ovix.cmake) and skip elsewhere.
#include "ovix/forward.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "capture_stream.h"
#include "ovix/capture_format.h"
#include "ovix/ovix.h"
#include "ovix/wire.h"
#include "ovix_test_env.h"
#include "pipe_tap_win.h"

namespace velmora::ovix {
namespace {

using Bytes = std::vector<unsigned char>;
using namespace std::chrono_literals;

Bytes frame(std::size_t n, unsigned char seed) {
    Bytes f(n);
    for (std::size_t i = 0; i < n; ++i) {
        f[i] = static_cast<unsigned char>(seed + i);
    }
    return f;
}

Bytes record(const Bytes& f) {
    Bytes r(kLengthSize + f.size());
    put_length(r.data(), f.size());
    std::copy(f.begin(), f.end(), r.begin() + kLengthSize);
    return r;
}

bool readable(SOCKET s, int wait_ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval limit = {wait_ms / 1000, (wait_ms % 1000) * 1000};
    return select(0, &set, nullptr, nullptr, &limit) == 1;
}

// A listening socket on the namespace's loopback and the two ends of one connection to it.
struct Connection {
    SOCKET listener = INVALID_SOCKET;
    SOCKET ours = INVALID_SOCKET;   // the test's end: the remote peer
    SOCKET theirs = INVALID_SOCKET; // handed to ovix
    unsigned short port = 0;

    bool listen_local() {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof a;
        if (bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            listen(listener, 2) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
            return false;
        }
        port = ntohs(a.sin_port);
        return true;
    }
    bool connect_pair() {
        ours = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        if (connect(ours, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            return false;
        }
        theirs = accept(listener, nullptr, nullptr);
        return theirs != INVALID_SOCKET;
    }
    ~Connection() {
        for (SOCKET s : {listener, ours, theirs}) {
            if (s != INVALID_SOCKET) {
                closesocket(s);
            }
        }
    }
};

bool in_namespace() {
    return std::getenv("VELMORA_NS_HOST") != nullptr;
}

class ForwardNs : public ::testing::Test {
protected:
    void SetUp() override {
        if (!in_namespace()) {
            GTEST_SKIP() << "moves frames: runs only under scripts/netns-run";
        }
        ASSERT_TRUE(net_startup());
        guid_ = testing::unique_name("fw");
        pipe_ = testing::create_pipe_tap(guid_.c_str());
        ASSERT_NE(pipe_, INVALID_HANDLE_VALUE);
        set_tap_driver(&testing::pipe_tap_driver());
        testing::pipe_tap_clear_media();
        ASSERT_TRUE(net_.listen_local());
    }

    void TearDown() override {
        if (running_.valid()) {
            stop_event_set(stop_);
            finished(5s);
        }
        set_tap_driver(nullptr);
        close_tap(tap_);
        stop_event_close(stop_);
        if (pipe_ != INVALID_HANDLE_VALUE && pipe_ != nullptr) {
            CloseHandle(pipe_);
        }
        if (in_namespace()) {
            net_cleanup();
        }
    }

    void start(bool capture = false) {
        tap_ = tap_driver().open(guid_.c_str());
        ASSERT_NE(tap_, kNoTap);
        stop_ = stop_event_open(guid_.c_str());
        ASSERT_NE(stop_, kNoEvent);
        ASSERT_TRUE(net_.connect_pair());
        const SOCKET s = net_.theirs;
        running_ = std::async(std::launch::async,
                              [this, s, capture] { l2_forward(s, tap_, stop_, capture); });
    }

    bool finished(std::chrono::milliseconds wait) {
        if (!running_.valid() || running_.wait_for(wait) != std::future_status::ready) {
            return false;
        }
        running_.get();
        return true;
    }

    void adapter_sends(const Bytes& f) {
        ASSERT_TRUE(testing::pipe_write(pipe_, f.data(), static_cast<DWORD>(f.size())));
    }
    Bytes adapter_receives() {
        Bytes m;
        EXPECT_TRUE(testing::pipe_read(pipe_, &m)) << "no frame reached the adapter";
        return m;
    }
    void peer_sends(const Bytes& b) {
        ASSERT_EQ(
            send(net_.ours, reinterpret_cast<const char*>(b.data()), static_cast<int>(b.size()), 0),
            static_cast<int>(b.size()));
    }
    Bytes peer_receives(std::size_t n) {
        Bytes got(n);
        std::size_t done = 0;
        while (done < n && readable(net_.ours, 3000)) {
            const int r = recv(net_.ours, reinterpret_cast<char*>(got.data() + done),
                               static_cast<int>(n - done), 0);
            if (r <= 0) {
                break;
            }
            done += static_cast<std::size_t>(r);
        }
        got.resize(done);
        return got;
    }

    std::string guid_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    tap_t tap_ = kNoTap;
    event_t stop_ = kNoEvent;
    Connection net_;
    std::future<void> running_;
};

TEST_F(ForwardNs, AdapterFrameLeavesInOneSendWithItsLength) {
    testing::ReportCapture reports;
    start();
    const Bytes f = frame(60, 1);
    adapter_sends(f);
    ASSERT_TRUE(readable(net_.ours, 3000));
    std::this_thread::sleep_for(100ms);
    Bytes got(200);
    const int n = recv(net_.ours, reinterpret_cast<char*>(got.data()), 200, 0);
    ASSERT_EQ(n, 62);
    got.resize(62);
    EXPECT_EQ(got, record(f));
    EXPECT_EQ(got[0], 0x00);
    EXPECT_EQ(got[1], 0x3C);
    EXPECT_EQ(reports.text(), "");
}

TEST_F(ForwardNs, PeerRecordsReachTheAdapterOneFrameEach) {
    start();
    Bytes many;
    for (std::size_t n : {60u, 1514u, 14u}) {
        const Bytes r = record(frame(n, static_cast<unsigned char>(n)));
        many.insert(many.end(), r.begin(), r.end());
    }
    peer_sends(many);
    EXPECT_EQ(adapter_receives(), frame(60, 60));
    EXPECT_EQ(adapter_receives(), frame(1514, static_cast<unsigned char>(1514)));
    EXPECT_EQ(adapter_receives(), frame(14, 14));
    // A length split over two segments is completed by the blocking receive.
    const Bytes split = record(frame(60, 9));
    peer_sends(Bytes(split.begin(), split.begin() + 1));
    std::this_thread::sleep_for(100ms);
    peer_sends(Bytes(split.begin() + 1, split.end()));
    EXPECT_EQ(adapter_receives(), frame(60, 9));
}

TEST_F(ForwardNs, EmptyRecordGivesAnEmptyWrite) {
    start();
    peer_sends({0x00, 0x00});
    Bytes m;
    ASSERT_TRUE(testing::pipe_read(pipe_, &m));
    EXPECT_TRUE(m.empty());
    peer_sends(record(frame(60, 3)));
    EXPECT_EQ(adapter_receives(), frame(60, 3));
}

TEST_F(ForwardNs, PeerThatClosesEndsForwardingQuietlyWithMediaOff) {
    testing::ReportCapture reports;
    start();
    closesocket(net_.ours);
    net_.ours = INVALID_SOCKET;
    ASSERT_TRUE(finished(3s));
    EXPECT_EQ(reports.text(), "");
    EXPECT_EQ(testing::pipe_tap_media(), (std::vector<bool>{true, false}));
}

TEST_F(ForwardNs, StopWhileBothReadsAreInFlight) {
    start();
    std::this_thread::sleep_for(200ms); // both reads posted, nothing to read
    EXPECT_FALSE(finished(0ms));
    ASSERT_TRUE(stop_event_signal(guid_.c_str())); // as -d does, by name
    ASSERT_TRUE(finished(3s));
    EXPECT_EQ(testing::pipe_tap_media(), (std::vector<bool>{true, false}));
    // The cancelled reads are gone: the adapter and the socket still work for the next run.
    ResetEvent(stop_);
    running_ =
        std::async(std::launch::async, [this] { l2_forward(net_.theirs, tap_, stop_, false); });
    adapter_sends(frame(60, 4));
    EXPECT_EQ(peer_receives(62), record(frame(60, 4)));
}

TEST_F(ForwardNs, InterruptSetsTheStopEvent) {
    start();
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(raise(SIGINT), 0);
    ASSERT_TRUE(finished(3s));
    EXPECT_TRUE(stop_event_is_set(stop_));
}

TEST_F(ForwardNs, FrameTooLongForTheLengthIsDroppedNotCut) {
    testing::ReportCapture reports;
    start();
    adapter_sends(frame(70000, 5));
    adapter_sends(frame(60, 6));
    EXPECT_EQ(peer_receives(62), record(frame(60, 6)));
    EXPECT_TRUE(reports.has("(write_to_sock) frame too long (70000), dropped\n")) << reports.text();
    adapter_sends(frame(65535, 7));
    EXPECT_EQ(peer_receives(65537), record(frame(65535, 7)));
}

TEST_F(ForwardNs, CaptureRecordsEveryFrameBothWays) {
    testing::InTempFolder here;
    start(true);
    adapter_sends(frame(60, 1));
    ASSERT_EQ(peer_receives(62).size(), 62u);
    peer_sends(record(frame(1514, 2)));
    ASSERT_EQ(adapter_receives().size(), 1514u);
    stop_event_set(stop_);
    ASSERT_TRUE(finished(3s));

    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(here.path())) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().rfind("l2-", 0), 0u);
    std::ifstream in(files[0], std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 24u + 16 + 60 + 16 + 1514);
    auto le32 = [&](std::size_t at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24;
    };
    EXPECT_EQ(le32(0), static_cast<int>(0xA1B2C3D4));
    EXPECT_EQ(le32(24 + 8), 60);
    EXPECT_EQ(Bytes(bytes.begin() + 40, bytes.begin() + 100), frame(60, 1));
    EXPECT_EQ(le32(100 + 12), 1514);
    EXPECT_EQ(Bytes(bytes.begin() + 116, bytes.end()), frame(1514, 2));
}

// The modes in-process: attach to the test's listener, detach by name, exit code 0.
TEST_F(ForwardNs, DetachEndsAnAttachOfTheSameAdapter) {
    testing::ReportCapture reports;
    set_debug(true);
    const std::string host = "127.0.0.1:" + std::to_string(net_.port);
    auto attach = std::async(std::launch::async,
                             [&] { return attach_device(host.c_str(), guid_.c_str(), false); });
    const SOCKET peer = accept(net_.listener, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);
    net_.ours = peer;
    adapter_sends(frame(60, 8));
    EXPECT_EQ(peer_receives(62), record(frame(60, 8)));
    detach_device(guid_.c_str());
    ASSERT_EQ(attach.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(attach.get(), 0);
    const std::string log = reports.text();
    EXPECT_NE(log.find("(tcp_connect ) connected to 127.0.0.1:"), std::string::npos) << log;
    EXPECT_NE(log.find("(attach_device) closing connection to device\n"), std::string::npos) << log;
    EXPECT_NE(log.find("(attach_device) done\n"), std::string::npos) << log;
    EXPECT_EQ(testing::pipe_tap_media(), (std::vector<bool>{true, false}));
}

TEST_F(ForwardNs, ServerForwardsOnePeerAtATimeUntilStopped) {
    testing::ReportCapture reports;
    set_debug(true);
    auto server =
        std::async(std::launch::async, [&] { return server_device(guid_.c_str(), false); });
    auto connect_1200 = [] {
        const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(1200);
        for (int i = 0; i < 50; ++i) {
            if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
                return s;
            }
            std::this_thread::sleep_for(100ms);
        }
        closesocket(s);
        return INVALID_SOCKET;
    };
    // First peer: a frame each way, then it leaves; the server waits for the next one.
    net_.ours = connect_1200();
    ASSERT_NE(net_.ours, INVALID_SOCKET);
    peer_sends(record(frame(60, 1)));
    EXPECT_EQ(adapter_receives(), frame(60, 1));
    closesocket(net_.ours);
    net_.ours = INVALID_SOCKET;
    EXPECT_NE(server.wait_for(300ms), std::future_status::ready);
    // Second peer, then a detach while it is connected ends the server.
    net_.ours = connect_1200();
    ASSERT_NE(net_.ours, INVALID_SOCKET);
    adapter_sends(frame(60, 2));
    EXPECT_EQ(peer_receives(62), record(frame(60, 2)));
    detach_device(guid_.c_str());
    ASSERT_EQ(server.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(server.get(), 0);
    const std::string log = reports.text();
    EXPECT_NE(log.find("(server_device) closing server socket\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("ovix err"), std::string::npos) << log;
    EXPECT_EQ(testing::pipe_tap_media(), (std::vector<bool>{true, false, true, false}));
}

} // namespace
} // namespace velmora::ovix
