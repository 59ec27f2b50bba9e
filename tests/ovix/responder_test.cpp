// The stand-in host's answers, checked against frames built here.
#include "responder.h"

#include <gtest/gtest.h>

namespace velmora::ovix::testing {
namespace {

const Host kHost = {{0x02, 0, 0, 0, 0, 0x42}, {198, 19, 7, 2}};

TEST(Responder, AnswersArpForItsAddressOnly) {
    std::vector<std::uint8_t> f = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02, 1,  1, 1, 1,
                                   1,    0x08, 0x06, 0,    1,    8,    0,    6,  4, 0, 1,
                                   0x02, 1,    1,    1,    1,    1,    198,  19, 7, 1, 0,
                                   0,    0,    0,    0,    0,    198,  19,   7,  2};
    std::vector<std::uint8_t> r;
    ASSERT_TRUE(respond(kHost, f.data(), f.size(), &r));
    EXPECT_EQ(r.size(), 60u);
    EXPECT_EQ(std::vector<std::uint8_t>(r.begin(), r.begin() + 12),
              (std::vector<std::uint8_t>{0x02, 1, 1, 1, 1, 1, 0x02, 0, 0, 0, 0, 0x42}));
    EXPECT_EQ(r[21], 2);
    EXPECT_EQ(std::vector<std::uint8_t>(r.begin() + 28, r.begin() + 32),
              (std::vector<std::uint8_t>{198, 19, 7, 2}));
    EXPECT_EQ(std::string(describe(f.data(), f.size())), "arp-request");
    f[41] = 3;
    EXPECT_FALSE(respond(kHost, f.data(), f.size(), &r));
}

TEST(Responder, AnswersEchoWithAValidChecksum) {
    std::vector<std::uint8_t> f = {0x02, 0,    0,    0,    0, 0x42, 0x02, 1,   1,   1,  1,  1,
                                   0x08, 0x00, 0x45, 0,    0, 32,   0,    1,   0,   0,  64, 1,
                                   0,    0,    198,  19,   7, 1,    198,  19,  7,   2,  8,  0,
                                   0,    0,    0x12, 0x34, 0, 1,    'p',  'i', 'n', 'g'};
    std::vector<std::uint8_t> r;
    ASSERT_TRUE(respond(kHost, f.data(), f.size(), &r));
    ASSERT_EQ(r.size(), f.size());
    EXPECT_EQ(r[34], 0);
    std::uint32_t sum = 0;
    for (std::size_t i = 34; i < r.size(); i += 2) {
        sum += (r[i] << 8) | r[i + 1];
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    EXPECT_EQ(sum, 0xFFFFu);
    EXPECT_EQ(std::string(describe(r.data(), r.size())), "icmp-reply");
}

} // namespace
} // namespace velmora::ovix::testing
