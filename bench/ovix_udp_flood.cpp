// Small-frame load for the bridge benchmark, so that the bridge and not the sender is what
// limits the rate: sendmmsg/recvmmsg move 64 datagrams per call.
//   ovix-udp-flood send ADDRESS PORT SECONDS PAYLOAD   prints datagrams sent
//   ovix-udp-flood recv PORT SECONDS                   prints datagrams received per second,
//                                                     counted from the first to the last one
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kBatch = 64;
using Clock = std::chrono::steady_clock;

int send_mode(const char* address, int port, double seconds, int payload) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address, &to.sin_addr);
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror("connect");
        return 1;
    }
    std::vector<char> data(static_cast<std::size_t>(payload), 'x');
    iovec iov[kBatch];
    mmsghdr msgs[kBatch] = {};
    for (int i = 0; i < kBatch; ++i) {
        iov[i] = {data.data(), data.size()};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    long long sent = 0;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        const int n = sendmmsg(s, msgs, kBatch, 0);
        if (n > 0) {
            sent += n;
        }
    }
    std::printf("%lld\n", sent);
    return 0;
}

int recv_mode(int port, double seconds) {
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    const int size = 8 << 20;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
        std::perror("bind");
        return 1;
    }
    timeval wait = {0, 200000};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    static char buffers[kBatch][2048];
    iovec iov[kBatch];
    mmsghdr msgs[kBatch] = {};
    for (int i = 0; i < kBatch; ++i) {
        iov[i] = {buffers[i], sizeof buffers[i]};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    long long received = 0;
    Clock::time_point first{}, last{};
    const auto give_up = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < give_up) {
        const int n = recvmmsg(s, msgs, kBatch, MSG_WAITFORONE, nullptr);
        if (n <= 0) {
            if (received > 0) {
                break; // the load has ended
            }
            continue;
        }
        if (received == 0) {
            first = Clock::now();
        }
        received += n;
        last = Clock::now();
    }
    const double span = std::chrono::duration<double>(last - first).count();
    std::printf("%lld\n", span > 0 ? static_cast<long long>(received / span) : 0LL);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc == 6 && std::strcmp(argv[1], "send") == 0) {
        return send_mode(argv[2], std::atoi(argv[3]), std::atof(argv[4]), std::atoi(argv[5]));
    }
    if (argc == 4 && std::strcmp(argv[1], "recv") == 0) {
        return recv_mode(std::atoi(argv[2]), std::atof(argv[3]));
    }
    std::fprintf(stderr,
                 "usage: ovix-udp-flood send ADDRESS PORT SECONDS PAYLOAD | recv PORT SECONDS\n");
    return 2;
}
