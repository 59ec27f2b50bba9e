#include "vm/vmx_file.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>

#include "vm/temp_dir.h"

namespace velmora::vm {
namespace {

using testing::CurrentDir;
using testing::exists;
using testing::readText;
using testing::TempDir;
using testing::writeText;

TEST(VmxLine, KeyMatching) {
    struct Case {
        const char* line;
        const char* key;
        bool matches;
    };
    const Case cases[] = {
        {"ethernet0.generatedAddress = \"00:0c:29:4f:11:a2\"\n", "ethernet0.generatedAddress",
         true},
        {"ETHERNET0.GENERATEDADDRESS=\"x\"\n", "ethernet0.generatedAddress", true},
        {"ethernet0.generatedAddress", "ethernet0.generatedAddress", true},
        {"ethernet0.generatedAddressOffset = \"0\"\n", "ethernet0.generatedAddress", false},
        {" ethernet0.generatedAddress = \"x\"\n", "ethernet0.generatedAddress", false},
        {"ethernet0.generatedAddress\t= \"x\"\n", "ethernet0.generatedAddress", false},
        {"ethernet0", "ethernet0.generatedAddress", false},
        {"Ethernet0.connectionType = \"nat\"\n", "Ethernet0.connectionType", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(lineMatchesKey(c.line, c.key), c.matches) << c.line;
    }
}

TEST(VmxLine, QuotedValue) {
    char out[8];
    EXPECT_TRUE(extractQuotedValue("k = \"abc\" \"def\"\n", out, sizeof out));
    EXPECT_STREQ(out, "abc");
    EXPECT_TRUE(extractQuotedValue("k = \"\"\n", out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_TRUE(extractQuotedValue("k = \"0123456789\"", out, sizeof out));
    EXPECT_STREQ(out, "0123456"); // cut to the capacity
    std::strcpy(out, "old");
    EXPECT_FALSE(extractQuotedValue("k = keep\n", out, sizeof out));
    EXPECT_FALSE(extractQuotedValue("k = \"keep\n", out, sizeof out));
    EXPECT_STREQ(out, "old");
}

TEST(VmxLine, GeneratedAddressAndUuidForms) {
    struct MacCase {
        const char* value;
        bool ok;
    };
    const MacCase macs[] = {
        {"00:0c:29:4f:11:a2", true},  {"00:0C:29:4F:11:A2", true},
        {"000c294f11a2", false},      {"00-0c-29-4f-11-a2", false},
        {"0:0c:29:4f:11:a2", false},  {"00:0c:29:4f:11", false},
        {"00:0c:29:4f:11:a", false},  {"", false},
        {"g0:0c:29:4f:11:a2", false},
    };
    for (const MacCase& c : macs) {
        std::uint8_t mac[6] = {1, 2, 3, 4, 5, 6};
        EXPECT_EQ(parseGeneratedAddress(c.value, mac), c.ok) << c.value;
        if (c.ok) {
            const std::uint8_t want[6] = {0x00, 0x0c, 0x29, 0x4f, 0x11, 0xa2};
            EXPECT_EQ(0, std::memcmp(mac, want, 6)) << c.value;
        } else {
            const std::uint8_t untouched[6] = {1, 2, 3, 4, 5, 6};
            EXPECT_EQ(0, std::memcmp(mac, untouched, 6)) << c.value;
        }
    }

    const std::uint8_t want[16] = {0x56, 0x4d, 0x3c, 0x5e, 0x8c, 0x2a, 0x1b, 0x9f,
                                   0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5, 0x06, 0x17};
    struct UuidCase {
        const char* value;
        bool ok;
    };
    const UuidCase uuids[] = {
        {"56 4d 3c 5e 8c 2a 1b 9f-a0 b1 c2 d3 e4 f5 06 17", true},
        {"  56 4d 3c 5e 8c 2a 1b 9f-a0 b1 c2 d3 e4 f5 06 17", true},
        {"564d3c5e8c2a1b9fa0b1c2d3e4f50617", false},
        {"56 4d 3c 5e 8c 2a 1b 9f-a0 b1 c2 d3 e4 f5 06", false},
        {"56  4d 3c 5e 8c 2a 1b 9f-a0 b1 c2 d3 e4 f5 06 17", false},
    };
    for (const UuidCase& c : uuids) {
        std::uint8_t uuid[16] = {};
        EXPECT_EQ(parseUuidValue(c.value, uuid), c.ok) << c.value;
        if (c.ok) {
            EXPECT_EQ(0, std::memcmp(uuid, want, 16)) << c.value;
        }
    }
}

TEST(VmxLine, ConnectionTypesAndComPortTexts) {
    EXPECT_EQ(connectionTypeIndex("bridged"), 0);
    EXPECT_EQ(connectionTypeIndex("Bridged"), 0);
    EXPECT_EQ(connectionTypeIndex("nat"), 1);
    EXPECT_EQ(connectionTypeIndex("NAT"), 0);
    EXPECT_EQ(connectionTypeIndex("hostonly"), 2);
    EXPECT_EQ(connectionTypeIndex("custom"), 3);
    EXPECT_EQ(connectionTypeIndex(nullptr), 0);

    EXPECT_EQ(comPortNumber("COM7"), 7);
    EXPECT_STREQ(firstDigit("COM7"), "7");
    EXPECT_EQ(comPortNumber("12x"), 12);
    EXPECT_EQ(comPortNumber("none"), 0);
    EXPECT_EQ(firstDigit("none"), nullptr);
    EXPECT_EQ(comPortNumber("COM0"), 0);
    EXPECT_EQ(comPortNumber("99999999999999999999"), INT_MAX);
}

class VmxFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string vmx = dir.file("Velmora.vmx");
    std::string tmp = vmx + ".tmp";
};

TEST_F(VmxFile, ReadSettingOnRealFile) {
    writeText(vmx, "config.version = \"8\"\n"
                   "uuid.action = keep\n"
                   "uuid.action = \"later\"\n"
                   "displayName = \"Velmora \"\"x\"\n"
                   "Appliance.HostName=\"gw-01\"\n");
    EXPECT_STREQ(readSetting(vmx.c_str(), "config.version"), "8");
    // The first matching line decides: a value without quotes reads as absent.
    EXPECT_EQ(readSetting(vmx.c_str(), "uuid.action"), nullptr);
    EXPECT_STREQ(readSetting(vmx.c_str(), "displayName"), "Velmora ");
    EXPECT_STREQ(readSetting(vmx.c_str(), "appliance.hostname"), "gw-01");
    EXPECT_EQ(readSetting(vmx.c_str(), "missing"), nullptr);
    EXPECT_EQ(readSetting(dir.file("none.vmx").c_str(), "config.version"), nullptr);
}

TEST_F(VmxFile, LongLinesAreReadInPiecesOf255) {
    // 255 characters fill the first piece; the rest of the physical line is read as a line of its
    // own and can match a key.
    writeText(vmx, std::string(255, 'x') + "comport = \"5\"\n" + "a = \"" + std::string(300, 'v') +
                       "\"\n");
    EXPECT_STREQ(readSetting(vmx.c_str(), "comport"), "5");
    EXPECT_EQ(readSetting(vmx.c_str(), "a"), nullptr); // the closing quote is in a later piece
}

TEST_F(VmxFile, WriteSettingTable) {
    struct Case {
        const char* name;
        const char* before;
        const char* key;
        const char* value;
        int result;
        const char* after;
    };
    const Case cases[] = {
        {"append after line end", "a = \"1\"\n", "comport", "3", 1, "a = \"1\"\ncomport = \"3\"\n"},
        {"append without line end", "a = \"1\"", "comport", "3", 1, "a = \"1\"\ncomport = \"3\"\n"},
        {"append to empty file", "", "comport", "3", 1, "\ncomport = \"3\"\n"},
        {"replace keeps others", "x\ncomport = \"1\"\ny = \"2\"\n", "comport", "4", 1,
         "x\ncomport = \"4\"\ny = \"2\"\n"},
        {"same value still rewrites", "comport = \"4\"\n", "comport", "4", 1, "comport = \"4\"\n"},
        {"remove", "x\ncomport = \"1\"\ny\n", "comport", nullptr, 1, "x\ny\n"},
        {"remove absent", "x\ny", "comport", nullptr, 0, "x\ny"},
        {"duplicates stay duplicates", "uuid.action = \"x\"\nb\nuuid.action = \"x\"\n",
         "uuid.action", "keep", 1, "uuid.action = \"keep\"\nb\nuuid.action = \"keep\"\n"},
        {"remove duplicates", "uuid.action = \"x\"\nUUID.ACTION=\"y\"\nb\n", "uuid.action", nullptr,
         1, "b\n"},
        {"caller's letter case", "ETHERNET0.CONNECTIONTYPE = \"bridged\"\n",
         "Ethernet0.connectionType", "nat", 1, "Ethernet0.connectionType = \"nat\"\n"},
        {"longer key is another key", "comportX = \"1\"\n", "comport", "2", 1,
         "comportX = \"1\"\ncomport = \"2\"\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeText(vmx, c.before);
        EXPECT_EQ(writeSetting(vmx.c_str(), c.key, c.value), c.result);
        EXPECT_EQ(readText(vmx), c.after);
        EXPECT_FALSE(exists(tmp));
    }
}

TEST_F(VmxFile, WriteSettingKeepsBytesAfterAnEmbeddedZero) {
    {
        std::FILE* f = std::fopen(vmx.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite("a\0b\n", 1, 4, f);
        std::fclose(f);
    }
    EXPECT_EQ(writeSetting(vmx.c_str(), "k", "v"), 1);
    std::FILE* f = std::fopen(vmx.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char bytes[64];
    const std::size_t n = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    const std::string content(bytes, n);
    EXPECT_EQ(content.substr(0, 3), std::string("a\0b", 3));
    EXPECT_NE(content.find("k = \"v\""), std::string::npos);
}

TEST_F(VmxFile, WriteSettingWithoutFileWritesNothing) {
    EXPECT_EQ(writeSetting(vmx.c_str(), "comport", "3"), 0);
    EXPECT_FALSE(exists(vmx));
    EXPECT_FALSE(exists(tmp));
}

TEST_F(VmxFile, TemporaryNameThatWouldBeCutWritesNothing) {
    // A path whose "%s.tmp" exceeds 259 characters: the cut name would belong to another file.
    std::filesystem::path deep = dir.path() / std::string(120, 'd') / std::string(120, 'e');
    std::error_code ec;
    std::filesystem::create_directories(deep, ec);
    const std::string path = (deep / "Velmora.vmx").string();
    writeText(path, "a = \"1\"\n");
    if (readText(path).empty()) {
        GTEST_SKIP() << "the platform cannot hold a path this long";
    }
    ASSERT_GT(path.size() + 4, 259u);
    EXPECT_EQ(writeSetting(path.c_str(), "comport", "3"), 0);
    EXPECT_EQ(readText(path), "a = \"1\"\n");
}

TEST_F(VmxFile, ApplianceMacFromVmx) {
    std::uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
    char pipe[kPipeNameSize] = "";
    writeText(vmx, "ethernet0.generatedAddressOffset = \"0\"\n"
                   "ethernet0.generatedAddress = \"00:0c:29:4f:11:a2\"\n");
    EXPECT_EQ(readApplianceMac(vmx.c_str(), 1, mac, pipe), 0);
    const std::uint8_t want[6] = {0x00, 0x0c, 0x29, 0x4f, 0x11, 0xa2};
    EXPECT_EQ(0, std::memcmp(mac, want, 6));
    EXPECT_STREQ(pipe, "");

    writeText(vmx, "ethernet0.generatedAddress = \"00-0c-29-4f-11-b3\"\n");
    EXPECT_EQ(readApplianceMac(vmx.c_str(), 2, mac, pipe), kErrorNotFound);
    EXPECT_EQ(0, std::memcmp(mac, want, 6)); // unchanged
    writeText(vmx, "config.version = \"8\"\n");
    EXPECT_EQ(readApplianceMac(vmx.c_str(), 1, mac, pipe), kErrorNotFound);
}

class VBoxMachineFile : public VmxFile {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.path() / "Machines" / "Velmora");
    }
    void machineFile(const std::string& text) {
        writeText((dir.path() / "Machines" / "Velmora" / "Velmora.xml").string(), text);
    }
};

TEST_F(VBoxMachineFile, ApplianceMacAndPipeName) {
    struct Case {
        const char* name;
        const char* xml;
        int result;
        std::array<std::uint8_t, 6> mac;
        const char* pipe;
    };
    const Case cases[] = {
        {"slot 0 and 1",
         "<Network>\n"
         "  <Adapter slot=\"0\" enabled=\"true\" MACAddress=\"080027AABBCC\" type=\"82540EM\">\n"
         "  <Adapter slot=\"1\" enabled=\"true\" MACAddress=\"0800271122Ef\" type=\"82540EM\">\n",
         0,
         {0x08, 0x00, 0x27, 0xaa, 0xbb, 0xcc},
         "0800271122ef"},
        {"later slot 0 wins, slots above 1 ignored",
         "<Adapter slot=\"0\" MACAddress=\"080027000001\">\n"
         "<Adapter slot=\"2\" MACAddress=\"080027000002\">\n"
         "<Adapter slot=\"0\" MACAddress=\"080027000003\">\n",
         0,
         {0x08, 0x00, 0x27, 0x00, 0x00, 0x03},
         ""},
        {"slot 1 first stops the reading",
         "<Adapter slot=\"1\" MACAddress=\"080027000004\">\n"
         "<Adapter slot=\"0\" MACAddress=\"080027000005\">\n",
         kErrorNotFound,
         {9, 9, 9, 9, 9, 9},
         "080027000004"},
        {"MAC before the slot does not count",
         "<Adapter MACAddress=\"080027000006\" slot=\"0\">\n",
         kErrorNotFound,
         {9, 9, 9, 9, 9, 9},
         ""},
        {"slot 10 is above 1",
         "<Adapter slot=\"10\" MACAddress=\"080027000007\">\n",
         kErrorNotFound,
         {9, 9, 9, 9, 9, 9},
         ""},
        {"short MAC",
         "<Adapter slot=\"0\" MACAddress=\"0800270000\n",
         kErrorNotFound,
         {9, 9, 9, 9, 9, 9},
         ""},
    };
    CurrentDir cwd(dir.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        machineFile(c.xml);
        std::uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
        char pipe[kPipeNameSize] = "";
        // The VMX file plays no part for VirtualBox.
        EXPECT_EQ(readApplianceMac("absent.vmx", kBackendTypeVBox, mac, pipe), c.result);
        EXPECT_EQ(0, std::memcmp(mac, c.mac.data(), 6));
        EXPECT_STREQ(pipe, c.pipe);
    }
    std::filesystem::remove(dir.path() / "Machines" / "Velmora" / "Velmora.xml");
    std::uint8_t mac[6] = {};
    char pipe[kPipeNameSize] = "";
    EXPECT_EQ(readApplianceMac("absent.vmx", kBackendTypeVBox, mac, pipe), kErrorNotFound);
}

TEST_F(VBoxMachineFile, VmUuid) {
    const std::uint8_t vmware[16] = {0x56, 0x4d, 0x3c, 0x5e, 0x8c, 0x2a, 0x1b, 0x9f,
                                     0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5, 0x06, 0x17};
    const std::uint8_t vbox[16] = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0,
                                   0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0};
    CurrentDir cwd(dir.path());
    machineFile("<?xml version=\"1.0\"?>\n"
                "  <Machine uuid=\"{12345678-9abc-def0-1234-56789abcdef0}\" name=\"Velmora\">\n");
    std::uint8_t uuid[16] = {};

    writeText(vmx, "uuid.bios = \"56 4d 3c 5e 8c 2a 1b 9f-a0 b1 c2 d3 e4 f5 06 17\"\n");
    EXPECT_EQ(readVmUuid(vmx.c_str(), 1, uuid), 0);
    EXPECT_EQ(0, std::memcmp(uuid, vmware, 16));

    std::memset(uuid, 0, sizeof uuid);
    writeText(vmx, "uuid.location = \"56 4d 3c 5e 8c 2a 1b 9f-a0 b1 c2 d3 e4 f5 06 17\"\n");
    EXPECT_EQ(readVmUuid(vmx.c_str(), 2, uuid), 0);
    EXPECT_EQ(0, std::memcmp(uuid, vmware, 16));

    writeText(vmx, "config.version = \"8\"\n");
    std::memset(uuid, 0, sizeof uuid);
    EXPECT_EQ(readVmUuid(vmx.c_str(), 1, uuid), kErrorNotFound);
    EXPECT_EQ(readVmUuid(vmx.c_str(), kBackendTypeVBox, uuid), 0);
    EXPECT_EQ(0, std::memcmp(uuid, vbox, 16));

    machineFile("<Machine uuid=\"{12345678-9abc-def0-1234-56789abcdeZ0}\">\n"
                "<Machine uuid=\"{12345678-9abc-def0-1234-56789abcdef0}\">\n");
    EXPECT_EQ(readVmUuid(vmx.c_str(), kBackendTypeVBox, uuid), kErrorNotFound);
}

TEST_F(VmxFile, ConnectionType) {
    writeText(vmx, "ethernet0.connectionType = \"Bridged\"\n");
    EXPECT_EQ(getConnectionType(vmx.c_str()), 0);
    EXPECT_EQ(setConnectionType(vmx.c_str(), 1), 1);
    EXPECT_EQ(readText(vmx), "Ethernet0.connectionType = \"nat\"\n");
    EXPECT_EQ(getConnectionType(vmx.c_str()), 1);
    EXPECT_EQ(setConnectionType(vmx.c_str(), 4), 0);
    EXPECT_EQ(getConnectionType(dir.file("none.vmx").c_str()), 0);
}

} // namespace
} // namespace velmora::vm
