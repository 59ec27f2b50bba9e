#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/unique_handle.h"
#include "vm/cvmx_player.h"
#include "vm/cvmx_vbox.h"
#include "vm/network_editor.h"
#include "vm/temp_dir.h"

namespace velmora::vm {
namespace {

// A VMware backend whose product is present, so configure runs to its end.
class InstalledVmware : public virtual Cvmx {
public:
    explicit InstalledVmware(int type) { backendType = type; }
    ~InstalledVmware() override { InstalledVmware::close(); }
    int open() override { return 0; }
    int close() override { return closeGeneric(); }
    int prepare() override { return prepareGeneric(); }
    void releaseProcesses() override { releaseProcessesGeneric(); }
    int start(int) override { return kErrorNotStopped; }
    int stop() override { return 0; }
    int pollState(int, int) override { return state; }
    int setUp() override { return 0; }
};

// Writes the VMware document command into HKEY_CLASSES_ROOT for the test and removes it after
// (only when the test created it).
class VmwareOpenCommand : public ::testing::Test {
protected:
    void SetUp() override {
        unique_hkey probe;
        if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, "VMware.Document", 0, KEY_READ, probe.put()) ==
            ERROR_SUCCESS) {
            GTEST_SKIP() << "a VMware document class exists on this machine";
        }
        created_ = true;
    }
    void TearDown() override {
        if (created_) {
            ::RegDeleteTreeA(HKEY_CLASSES_ROOT, "VMware.Document");
            ::RegDeleteKeyA(HKEY_CLASSES_ROOT, "VMware.Document");
        }
    }
    void setCommand(const std::string& value) {
        unique_hkey key;
        ASSERT_EQ(::RegCreateKeyExA(HKEY_CLASSES_ROOT, kVmwareOpenCommandKey, 0, nullptr, 0,
                                    KEY_WRITE, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExA(key.get(), nullptr, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
    }

    testing::TempDir dir;
    std::string vmx = dir.file("Velmora.vmx");

private:
    bool created_ = false;
};

TEST_F(VmwareOpenCommand, ConfigureDerivesTheNetworkEditor) {
    testing::writeText(vmx, "config.version = \"8\"\n");
    std::string value;
    EXPECT_NE(readVmwareOpenCommand(&value), 0); // nothing registered yet
    {
        InstalledVmware player(kBackendPlayer);
        ASSERT_EQ(player.configure(vmx.c_str()), 0);
        EXPECT_EQ(player.networkEditorCommand, "");
    }

    setCommand("\"C:\\Program Files\\VMware\\VMware Player\\vmplayer.exe\" \"%1\"");
    {
        InstalledVmware player(kBackendPlayer);
        ASSERT_EQ(player.configure(vmx.c_str()), 0);
        EXPECT_EQ(player.networkEditorCommand,
                  "\"C:\\Program Files\\VMware\\VMware Player\\vmnetcfg.exe\"");
    }
    {
        InstalledVmware vbox(kBackendVBox); // VirtualBox has no network editor
        ASSERT_EQ(vbox.configure(vmx.c_str()), 0);
        EXPECT_EQ(vbox.networkEditorCommand, "");
    }

    setCommand(""); // an empty value gives no command
    InstalledVmware workstation(kBackendWorkstation);
    ASSERT_EQ(workstation.configure(vmx.c_str()), 0);
    EXPECT_EQ(workstation.networkEditorCommand, "");
}

TEST_F(VmwareOpenCommand, LongValuesAreNotRead) {
    setCommand("C:\\" + std::string(300, 'x') + "\\vmplayer.exe");
    std::string value = "unchanged";
    EXPECT_EQ(readVmwareOpenCommand(&value), ERROR_MORE_DATA);
    EXPECT_EQ(value, "unchanged");
}

TEST(CvmxVBoxWin, UserHomeIsTheCurrentDirectory) {
    testing::TempDir dir;
    testing::CurrentDir cwd(dir.path());
    CvmxVBox vbox;
    char home[MAX_PATH] = {};
    ASSERT_GT(::GetEnvironmentVariableA("VBOX_USER_HOME", home, sizeof home), 0u);
    EXPECT_EQ(std::filesystem::path(home), std::filesystem::current_path());
}

} // namespace
} // namespace velmora::vm
