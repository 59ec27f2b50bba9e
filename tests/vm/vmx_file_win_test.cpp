#include <windows.h>

#include <gtest/gtest.h>

#include "common/unique_handle.h"
#include "vm/temp_dir.h"
#include "vm/vmx_file.h"

namespace velmora::vm {
namespace {

// While another handle keeps the configuration open without delete sharing, the replacement
// fails: the file keeps its old content, the ".tmp" holds the new one and the result is still 1.
TEST(VmxFileWin, FailedReplaceKeepsFileAndTemporary) {
    testing::TempDir dir;
    const std::string vmx = dir.file("Velmora.vmx");
    testing::writeText(vmx, "comport = \"1\"\n");
    {
        unique_hfile holder(::CreateFileA(vmx.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder.valid());
        EXPECT_EQ(writeSetting(vmx.c_str(), "comport", "2"), 1);
    }
    EXPECT_EQ(testing::readText(vmx), "comport = \"1\"\n");
    EXPECT_EQ(testing::readText(vmx + ".tmp"), "comport = \"2\"\n");

    // Once the file is free the next write replaces it (and the stale ".tmp" with it).
    EXPECT_EQ(writeSetting(vmx.c_str(), "comport", "3"), 1);
    EXPECT_EQ(testing::readText(vmx), "comport = \"3\"\n");
    EXPECT_FALSE(testing::exists(vmx + ".tmp"));
}

// The text-mode rewrite gives Windows line ends; a file written with them reads back the same.
TEST(VmxFileWin, CrLfFilesStayCrLf) {
    testing::TempDir dir;
    const std::string vmx = dir.file("Velmora.vmx");
    {
        std::FILE* f = std::fopen(vmx.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("a = \"1\"\r\nuuid.action = \"x\"\r\n", f);
        std::fclose(f);
    }
    EXPECT_EQ(writeSetting(vmx.c_str(), "uuid.action", "keep"), 1);
    std::FILE* f = std::fopen(vmx.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char bytes[128];
    const std::size_t n = std::fread(bytes, 1, sizeof bytes, f);
    std::fclose(f);
    EXPECT_EQ(std::string(bytes, n), "a = \"1\"\r\nuuid.action = \"keep\"\r\n");
    EXPECT_STREQ(readSetting(vmx.c_str(), "uuid.action"), "keep");
}

} // namespace
} // namespace velmora::vm
