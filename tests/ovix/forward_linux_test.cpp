// Forwarding on Linux without a network: a SOCK_SEQPACKET pair keeps frame boundaries as a TAP
// interface does and stands in for it; a stream socket pair stands in for the TCP connection.
#include "ovix/forward.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <vector>

#include "capture_stream.h"
#include "ovix/capture_format.h"
#include "ovix/wire.h"
#include "ovix_test_env.h"

namespace velmora::ovix {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

std::mutex g_media_lock;
std::vector<bool> g_media;

void record_media(tap_t, bool connected) {
    std::lock_guard<std::mutex> lock(g_media_lock);
    g_media.push_back(connected);
}

tap_t no_open(const char*) {
    return kNoTap;
}

const TapDriver kRecordingDriver = {no_open, record_media};

Bytes frame(std::size_t n, std::uint8_t seed) {
    Bytes f(n);
    for (std::size_t i = 0; i < n; ++i) {
        f[i] = static_cast<std::uint8_t>(seed + i);
    }
    return f;
}

bool readable(int fd, std::chrono::milliseconds wait) {
    pollfd p = {fd, POLLIN, 0};
    return poll(&p, 1, static_cast<int>(wait.count())) == 1;
}

class Bridge : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, tap_), 0);
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sock_), 0);
        // Room for the longest frames the tests send through the stand-in adapter.
        const int size = 1 << 20;
        for (int fd : {tap_[0], tap_[1]}) {
            setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        }
        stop_ = stop_event_open(testing::unique_name("fwd").c_str());
        ASSERT_NE(stop_, kNoEvent);
        g_media.clear();
        set_tap_driver(&kRecordingDriver);
    }

    void TearDown() override {
        if (running_.valid()) {
            stop_event_set(stop_);
            finished(5s);
        }
        set_tap_driver(nullptr);
        stop_event_close(stop_);
        for (int fd : {tap_[0], tap_[1], sock_[0], sock_[1]}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }

    void start(bool capture = false) {
        running_ = std::async(std::launch::async,
                              [this, capture] { l2_forward(sock_[0], tap_[0], stop_, capture); });
    }

    bool finished(std::chrono::milliseconds wait) {
        if (!running_.valid() || running_.wait_for(wait) != std::future_status::ready) {
            return false;
        }
        running_.get();
        return true;
    }

    // The adapter side: one frame per message.
    void adapter_sends(const Bytes& f) {
        ASSERT_EQ(send(tap_[1], f.data(), f.size(), 0), static_cast<ssize_t>(f.size()));
    }
    Bytes adapter_receives() {
        if (!readable(tap_[1], 3s)) {
            ADD_FAILURE() << "no frame reached the adapter";
            return {};
        }
        Bytes f(70000);
        const ssize_t n = recv(tap_[1], f.data(), f.size(), 0);
        f.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        return f;
    }

    // The TCP peer side.
    void peer_sends(const Bytes& bytes) {
        ASSERT_EQ(send(sock_[1], bytes.data(), bytes.size(), 0),
                  static_cast<ssize_t>(bytes.size()));
    }
    Bytes peer_receives(std::size_t n) {
        Bytes got(n);
        std::size_t done = 0;
        while (done < n && readable(sock_[1], 3s)) {
            const ssize_t r = recv(sock_[1], got.data() + done, n - done, 0);
            if (r <= 0) {
                break;
            }
            done += static_cast<std::size_t>(r);
        }
        got.resize(done);
        return got;
    }

    static Bytes record(const Bytes& f) {
        Bytes r(kLengthSize + f.size());
        put_length(r.data(), f.size());
        std::copy(f.begin(), f.end(), r.begin() + kLengthSize);
        return r;
    }

    int tap_[2] = {-1, -1};
    int sock_[2] = {-1, -1};
    event_t stop_ = kNoEvent;
    std::future<void> running_;
    testing::StopFolder folder_;
};

TEST_F(Bridge, AdapterFrameGoesOutWithItsLength) {
    testing::ReportCapture reports;
    start();
    const Bytes f = frame(60, 1);
    adapter_sends(f);
    const Bytes got = peer_receives(62);
    ASSERT_EQ(got.size(), 62u);
    EXPECT_EQ(got[0], 0x00);
    EXPECT_EQ(got[1], 0x3C);
    EXPECT_EQ(Bytes(got.begin() + 2, got.end()), f);
    EXPECT_EQ(reports.text(), "");
}

TEST_F(Bridge, PeerRecordsReachTheAdapterOneFrameEach) {
    start();
    // Several records in one piece, then a length split over two pieces.
    Bytes many;
    for (std::size_t n : {60u, 1514u, 14u}) {
        const Bytes r = record(frame(n, static_cast<std::uint8_t>(n)));
        many.insert(many.end(), r.begin(), r.end());
    }
    peer_sends(many);
    EXPECT_EQ(adapter_receives(), frame(60, 60));
    EXPECT_EQ(adapter_receives(), frame(1514, static_cast<std::uint8_t>(1514)));
    EXPECT_EQ(adapter_receives(), frame(14, 14));
    const Bytes split = record(frame(60, 9));
    peer_sends(Bytes(split.begin(), split.begin() + 1));
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(readable(tap_[1], 0ms));
    peer_sends(Bytes(split.begin() + 1, split.end()));
    EXPECT_EQ(adapter_receives(), frame(60, 9));
}

// More than the receive buffer holds at once: records are taken several per receive and the
// partial one at the end of a full buffer is kept for the next.
TEST_F(Bridge, BurstLongerThanTheReceiveBufferKeepsEveryFrame) {
    testing::ReportCapture reports;
    start();
    Bytes burst;
    for (int i = 0; i < 300; ++i) {
        const Bytes r = record(frame(1000 + i, static_cast<std::uint8_t>(i)));
        burst.insert(burst.end(), r.begin(), r.end());
    }
    peer_sends(burst);
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(adapter_receives(), frame(1000 + i, static_cast<std::uint8_t>(i))) << i;
    }
    EXPECT_EQ(reports.text(), "");
}

// A burst from the adapter larger than the socket takes at once: the sender waits for room
// (taking the peer's records meanwhile) and the peer still gets every record whole, in order.
TEST_F(Bridge, BurstFromTheAdapterArrivesAsWholeRecordsInOrder) {
    testing::ReportCapture reports;
    start();
    Bytes expected;
    for (int i = 0; i < 400; ++i) {
        const Bytes f = frame(60 + (i * 37) % 1455, static_cast<std::uint8_t>(i));
        adapter_sends(f);
        const Bytes r = record(f);
        expected.insert(expected.end(), r.begin(), r.end());
    }
    EXPECT_EQ(peer_receives(expected.size()), expected);
    EXPECT_EQ(reports.text(), "");
}

TEST_F(Bridge, EmptyRecordGivesAnEmptyWrite) {
    start();
    peer_sends({0x00, 0x00});
    EXPECT_EQ(adapter_receives(), Bytes{});
    peer_sends(record(frame(60, 3)));
    EXPECT_EQ(adapter_receives(), frame(60, 3));
}

TEST_F(Bridge, PeerThatClosesEndsForwardingQuietly) {
    testing::ReportCapture reports;
    start();
    close(sock_[1]);
    sock_[1] = -1;
    ASSERT_TRUE(finished(3s));
    EXPECT_EQ(reports.text(), "");
    EXPECT_EQ(g_media, (std::vector<bool>{true, false}));
}

TEST_F(Bridge, PeerThatClosesInsideARecordIsReported) {
    testing::ReportCapture reports;
    start();
    peer_sends({0x00, 0x3C, 1, 2, 3});
    close(sock_[1]);
    sock_[1] = -1;
    ASSERT_TRUE(finished(3s));
    EXPECT_TRUE(reports.has("(write_to_dev) recv from sock failed 0\n")) << reports.text();
}

TEST_F(Bridge, StopWhileBothSidesWaitEndsWithMediaOff) {
    start();
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(finished(0ms));
    stop_event_set(stop_);
    ASSERT_TRUE(finished(3s));
    EXPECT_EQ(g_media, (std::vector<bool>{true, false}));
}

TEST_F(Bridge, InterruptTakesTheStopPath) {
    start();
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(raise(SIGINT), 0);
    ASSERT_TRUE(finished(3s));
    EXPECT_TRUE(stop_event_is_set(stop_));
}

TEST_F(Bridge, FrameTooLongForTheLengthIsDroppedNotCut) {
    testing::ReportCapture reports;
    start();
    adapter_sends(frame(70000, 5));
    adapter_sends(frame(60, 6));
    const Bytes got = peer_receives(62);
    EXPECT_EQ(got, record(frame(60, 6)));
    EXPECT_TRUE(reports.has("(write_to_sock) frame too long (70000), dropped\n")) << reports.text();
    // 65535 is the longest frame the length can carry; it still goes through.
    adapter_sends(frame(65535, 7));
    EXPECT_EQ(peer_receives(65537), record(frame(65535, 7)));
}

TEST_F(Bridge, CaptureRecordsEveryFrameBothWays) {
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
    std::uint8_t header[kCaptureGlobalHeaderSize];
    capture_global_header(header);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 24), Bytes(header, header + 24));
    auto le32 = [&](std::size_t at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24;
    };
    EXPECT_EQ(le32(24 + 8), 60);
    EXPECT_EQ(le32(24 + 12), 60);
    EXPECT_EQ(Bytes(bytes.begin() + 40, bytes.begin() + 100), frame(60, 1));
    EXPECT_EQ(le32(100 + 8), 1514);
    EXPECT_EQ(Bytes(bytes.begin() + 116, bytes.end()), frame(1514, 2));
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    EXPECT_NEAR(le32(24), std::chrono::duration_cast<std::chrono::seconds>(now).count(), 10);
}

} // namespace
} // namespace velmora::ovix
