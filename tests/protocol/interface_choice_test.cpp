#include "protocol/interface_choice.h"

#include <gtest/gtest.h>

#include <cstring>

namespace velmora::protocol {
namespace {

std::uint32_t ip(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
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

TEST(InterfaceChoice, UnicastAddressRule) {
    struct Case {
        std::uint32_t address;
        bool qualifies;
    } cases[] = {
        {ip(0, 0, 0, 0), false},         {ip(127, 0, 0, 1), false},
        {ip(127, 255, 1, 2), false},     {ip(224, 0, 0, 1), false},
        {ip(255, 255, 255, 255), false}, {ip(223, 255, 255, 255), true},
        {ip(126, 255, 255, 255), true},  {ip(128, 0, 0, 0), true},
        {ip(0, 0, 0, 1), true},          {ip(198, 18, 0, 1), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unicastQualifies(c.address), c.qualifies) << std::hex << c.address;
    }
}

TEST(InterfaceChoice, PrefixRule) {
    const std::uint32_t target = ip(192, 168, 10, 5);
    struct Case {
        AdapterPrefix prefix;
        bool contains;
    } cases[] = {
        {{ip(192, 168, 10, 0), 24}, true},
        {{ip(192, 168, 10, 77), 24}, true}, // host bits of the prefix address do not matter
        {{ip(10, 0, 0, 0), 8}, false},
        {{ip(192, 168, 10, 5), 32}, false}, // a host route never matches
        {{ip(0, 0, 0, 0), 0}, false},       // nor does a default route
        {{ip(128, 0, 0, 0), 1}, true},
        {{ip(0, 0, 0, 0), 1}, false},
        {{ip(192, 168, 10, 4), 31}, true},
        {{ip(192, 168, 10, 6), 31}, false},
        {{ip(192, 168, 11, 0), 23}, true}, // same /23 network
        {{ip(192, 168, 12, 0), 23}, false},
        {{ip(192, 168, 10, 0), 23}, true},
        {{ip(192, 168, 10, 0), 33}, false},
        {{ip(192, 168, 10, 0), -1}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(prefixContains(c.prefix, target), c.contains)
            << std::hex << c.prefix.address << "/" << std::dec << c.prefix.length;
    }
}

TEST(InterfaceChoice, UnknownTargetTakesEveryQualifyingAdapterInOrder) {
    AdapterDescription down = adapter(3, ip(10, 1, 1, 1));
    down.operUp = false;
    AdapterDescription ipv6First = adapter(4, ip(10, 2, 2, 2));
    ipv6First.unicastIsIpv4 = false;
    AdapterDescription noAddress = adapter(5, 0);
    noAddress.hasUnicast = false;
    const std::vector<AdapterDescription> adapters = {
        adapter(1, ip(127, 0, 0, 1)),
        adapter(7, ip(192, 168, 10, 9)),
        down,
        ipv6First,
        noAddress,
        adapter(6, ip(0, 0, 0, 0)),
        adapter(2, ip(10, 0, 0, 4)),
        adapter(8, ip(224, 1, 1, 1)),
    };
    const auto chosen = chooseInterfaces(adapters, false, 0xFFFFFFFFu);
    ASSERT_EQ(chosen.size(), 2u);
    EXPECT_EQ(chosen[0].index, 7u);
    EXPECT_EQ(chosen[0].address, ip(192, 168, 10, 9));
    EXPECT_FALSE(chosen[0].hasPrefix);
    EXPECT_EQ(chosen[1].index, 2u);
}

TEST(InterfaceChoice, KnownTargetNeedsAPrefixContainingIt) {
    const std::uint32_t target = ip(192, 168, 10, 5);
    const std::vector<AdapterDescription> adapters = {
        adapter(1, ip(10, 0, 0, 4), {{ip(10, 0, 0, 0), 8}}),
        adapter(2, ip(192, 168, 10, 9),
                {{ip(192, 168, 10, 9), 32}, {ip(192, 168, 10, 0), 24}, {ip(192, 168, 0, 0), 16}}),
        adapter(3, ip(172, 16, 0, 1), {{ip(0, 0, 0, 0), 0}, {ip(192, 168, 10, 5), 32}}),
        adapter(4, ip(172, 16, 0, 2)),
    };
    const auto chosen = chooseInterfaces(adapters, true, target);
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0].index, 2u);
    EXPECT_TRUE(chosen[0].hasPrefix);
    EXPECT_EQ(chosen[0].prefix.address, ip(192, 168, 10, 0)); // the first prefix that contains it
    EXPECT_EQ(chosen[0].prefix.length, 24);
}

TEST(InterfaceChoice, LoopbackOnlyHostGetsNone) {
    const std::vector<AdapterDescription> adapters = {
        adapter(1, ip(127, 0, 0, 1), {{ip(127, 0, 0, 0), 8}})};
    EXPECT_TRUE(chooseInterfaces(adapters, false, 0xFFFFFFFFu).empty());
    EXPECT_TRUE(chooseInterfaces(adapters, true, ip(127, 0, 0, 2)).empty());
    EXPECT_TRUE(chooseInterfaces({}, false, 0xFFFFFFFFu).empty());
}

} // namespace
} // namespace velmora::protocol
