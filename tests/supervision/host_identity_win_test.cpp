// The identity's Windows ingredients: CryptoAPI's MD5 and random bytes, and the host name as the
// registry holds it (with or without its terminator).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/unique_handle.h"
#include "supervision/host_identity.h"

namespace velmora::supervision {
namespace {

constexpr char kParameters[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

std::string hex(const std::uint8_t* bytes, std::size_t n) {
    std::string out;
    char b[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, "%02x", bytes[i]);
        out += b;
    }
    return out;
}

TEST(HostIdentityWin, Md5OverItsPartsAndFreshRandomBlocks) {
    std::unique_ptr<IdentityCrypto> crypto = systemIdentitySource().acquireCrypto();
    ASSERT_NE(crypto, nullptr);
    struct Case {
        std::vector<std::string> parts;
        const char* digest;
    };
    const Case cases[] = {
        {{}, "d41d8cd98f00b204e9800998ecf8427e"},
        {{"a", "", "bc"}, "900150983cd24fb0d6963f7d28e17f72"},
        {{"The quick brown fox ", "jumps over the lazy dog"}, "9e107d9d372bb6826bd81d3542a419d6"},
    };
    for (const Case& c : cases) {
        std::vector<ByteRange> ranges;
        for (const std::string& p : c.parts) {
            ranges.push_back({p.data(), p.size()});
        }
        std::uint8_t digest[16] = {};
        ASSERT_EQ(crypto->md5(ranges.data(), ranges.size(), digest), 0);
        EXPECT_EQ(hex(digest, 16), c.digest);
    }
    std::uint8_t first[128] = {};
    std::uint8_t second[128] = {};
    ASSERT_EQ(crypto->random(first, sizeof first), 0);
    ASSERT_EQ(crypto->random(second, sizeof second), 0);
    EXPECT_NE(std::memcmp(first, second, 128), 0);
}

// Sets "Hostname" for one test and puts the machine's own value back afterwards.
class HostnameValue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, nullptr, 0,
                                    KEY_READ | KEY_WRITE, nullptr, key_.put(), nullptr),
                  ERROR_SUCCESS);
        DWORD size = sizeof saved_;
        had_ = ::RegQueryValueExA(key_.get(), "Hostname", nullptr, &savedType_,
                                  reinterpret_cast<BYTE*>(saved_), &size) == ERROR_SUCCESS;
        savedSize_ = size;
    }
    void TearDown() override {
        if (had_) {
            ::RegSetValueExA(key_.get(), "Hostname", 0, savedType_,
                             reinterpret_cast<const BYTE*>(saved_), savedSize_);
        } else {
            ::RegDeleteValueA(key_.get(), "Hostname");
        }
    }
    void set(DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(
            ::RegSetValueExA(key_.get(), "Hostname", 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
    }

    unique_hkey key_;
    bool had_ = false;
    DWORD savedType_ = 0;
    DWORD savedSize_ = 0;
    char saved_[512] = {};
};

TEST_F(HostnameValue, ReadWithOrWithoutTerminator) {
    std::string name = "untouched";
    set(REG_SZ, "velmora-pc", 11);
    ASSERT_EQ(systemIdentitySource().readHostName(&name), 0);
    EXPECT_EQ(name, "velmora-pc");
    set(REG_SZ, "abc", 3); // stored without its zero
    ASSERT_EQ(systemIdentitySource().readHostName(&name), 0);
    EXPECT_EQ(name, "abc");
    set(REG_SZ, "ab\0zz", 5); // the name ends at the first zero
    ASSERT_EQ(systemIdentitySource().readHostName(&name), 0);
    EXPECT_EQ(name, "ab");

    const DWORD number = 7;
    set(REG_DWORD, &number, sizeof number);
    name = "untouched";
    EXPECT_EQ(systemIdentitySource().readHostName(&name), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(name, "untouched");
    ::RegDeleteValueA(key_.get(), "Hostname");
    EXPECT_EQ(systemIdentitySource().readHostName(&name), ERROR_FILE_NOT_FOUND);
}

} // namespace
} // namespace velmora::supervision
