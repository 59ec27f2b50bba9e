#include "responder.h"

#include <cstring>

namespace velmora::ovix::testing {
namespace {

constexpr std::size_t kEth = 14;

unsigned be16(const std::uint8_t* at) {
    return (at[0] << 8) | at[1];
}

std::uint16_t checksum(const std::uint8_t* data, std::size_t n) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < n; i += 2) {
        sum += be16(data + i);
    }
    if (n % 2 != 0) {
        sum += data[n - 1] << 8;
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

bool is_arp_request(const std::uint8_t* f, std::size_t n) {
    return n >= kEth + 28 && be16(f + 12) == 0x0806 && be16(f + kEth + 6) == 1;
}

bool is_icmp(const std::uint8_t* f, std::size_t n, std::size_t* ip_len) {
    if (n < kEth + 20 || be16(f + 12) != 0x0800 || (f[kEth] >> 4) != 4 || f[kEth + 9] != 1) {
        return false;
    }
    *ip_len = (f[kEth] & 0x0F) * 4u;
    return *ip_len >= 20 && n >= kEth + *ip_len + 8;
}

} // namespace

bool respond(const Host& host, const std::uint8_t* f, std::size_t n,
             std::vector<std::uint8_t>* reply) {
    if (is_arp_request(f, n) && std::memcmp(f + kEth + 24, host.ip, 4) == 0) {
        reply->assign(f, f + kEth + 28);
        std::uint8_t* r = reply->data();
        std::memcpy(r, f + 6, 6);
        std::memcpy(r + 6, host.mac, 6);
        r[kEth + 7] = 2;                              // reply
        std::memcpy(r + kEth + 18, f + kEth + 8, 10); // target = the asker
        std::memcpy(r + kEth + 8, host.mac, 6);
        std::memcpy(r + kEth + 14, host.ip, 4);
        reply->resize(60, 0); // the minimum Ethernet frame without its checksum
        return true;
    }
    std::size_t ip_len = 0;
    if (is_icmp(f, n, &ip_len) && std::memcmp(f + kEth + 16, host.ip, 4) == 0 &&
        f[kEth + ip_len] == 8) {
        const std::size_t total = std::min<std::size_t>(n, kEth + be16(f + kEth + 2));
        reply->assign(f, f + total);
        std::uint8_t* r = reply->data();
        std::memcpy(r, f + 6, 6);
        std::memcpy(r + 6, host.mac, 6);
        std::memcpy(r + kEth + 12, host.ip, 4);
        std::memcpy(r + kEth + 16, f + kEth + 12, 4);
        std::uint8_t* icmp = r + kEth + ip_len;
        icmp[0] = 0; // echo reply
        icmp[2] = icmp[3] = 0;
        const std::uint16_t sum = checksum(icmp, total - kEth - ip_len);
        icmp[2] = static_cast<std::uint8_t>(sum >> 8);
        icmp[3] = static_cast<std::uint8_t>(sum);
        return true;
    }
    return false;
}

const char* describe(const std::uint8_t* f, std::size_t n) {
    if (n < kEth) {
        return "runt";
    }
    if (be16(f + 12) == 0x0806) {
        return is_arp_request(f, n) ? "arp-request" : "arp";
    }
    std::size_t ip_len = 0;
    if (is_icmp(f, n, &ip_len)) {
        return f[kEth + ip_len] == 8 ? "icmp-echo" : f[kEth + ip_len] == 0 ? "icmp-reply" : "icmp";
    }
    return be16(f + 12) == 0x0800 ? "ipv4" : "other";
}

} // namespace velmora::ovix::testing
