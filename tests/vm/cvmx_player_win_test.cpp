// The Player backend under Wine, against stand-ins registered as VMware's document command: a
// "vmplayer.exe" that shows a "VMPlayerFrame" window and starts a "vmware-vmx.exe", which holds
// "vmware.log" open with its process id on the first line and ends with its Player.
#include <windows.h>
// after windows.h, which it needs
#include <aclapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "protocol/message.h"
#include "protocol/operations.h"
#include "protocol/transport_win.h"
#include "shell/standin_dir.h"
#include "vm/channel_link.h"
#include "vm/cvmx_player.h"
#include "vm/network_editor.h"
#include "vm/player_rules.h"

namespace velmora::vm {
namespace {

using shell::testing::StandinDir;
using Clock = std::chrono::steady_clock;

constexpr char kVmwareMac[] = "00:0c:29:4f:11:a2";
constexpr char kOtherMac[] = "52:54:00:4f:11:a2";
constexpr char kUuidText[] = "56 4d 12 34 ab cd ef 01-23 45 67 89 0a bc de f0";
constexpr char kUuidMemory[] = "564d1234-abcd-ef01-2345-67890abcdef0.vmem";
// What the stand-in's version resource gives the licence check (tests/standins/standin.rc).
constexpr char kAcceptedByVersion[] = "pref.eula.0.buildNumber = \"23775571\"\n";
constexpr char kAcceptedByBuild[] = "pref.eula.3.buildNumber = \"9029\"\n";
constexpr char kTcpipParameters[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

bool running(DWORD pid) {
    unique_handle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    return process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

// The access list of a process handle's object: "null" (everyone may do anything), "set", or why
// it could not be read.
std::string processDacl(void* process) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD r =
        ::GetSecurityInfo(static_cast<HANDLE>(process), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, &dacl, nullptr, &descriptor);
    if (r != ERROR_SUCCESS) {
        return "error " + std::to_string(r);
    }
    const std::string text = dacl == nullptr ? "null" : "set";
    ::LocalFree(descriptor);
    return text;
}

bool waitFor(const std::function<bool()>& condition, int ms = 15000) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (!condition()) {
        if (Clock::now() > end) {
            return false;
        }
        ::Sleep(20);
    }
    return true;
}

long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Records what the request channel sends; nothing ever answers.
struct SentLog {
    std::vector<std::vector<std::uint8_t>> datagrams;
    std::function<void()> onSend;
};

class RecordingTransport final : public protocol::ITransport {
public:
    explicit RecordingTransport(SentLog* log) : log_(log) {}
    int send(const protocol::PacketBuffer& datagram) override {
        log_->datagrams.emplace_back(datagram.data(), datagram.data() + datagram.remaining());
        if (log_->onSend) {
            log_->onSend();
        }
        return protocol::kRawOk;
    }
    int receive(std::unique_ptr<protocol::PacketBuffer>*, std::uint32_t*) override {
        ::Sleep(10);
        return protocol::kRawTimeout;
    }
    void reset() override {}
    void setTarget(std::uint32_t) override {}
    void openPipe(const char*) override {}
    void setWindow(void*) override {}
    void suspendNotifications() override {}
    void resumeNotifications() override {}
    void postNotification() override {}

private:
    SentLog* log_;
};

// A registry value to set for one test and put back afterwards.
class SavedValue {
public:
    SavedValue(HKEY root, const char* key, const char* name) : root_(root), key_(key), name_(name) {
        char data[1024];
        DWORD size = sizeof data;
        existed_ = ::RegGetValueA(root_, key_, name_, RRF_RT_REG_SZ, nullptr, data, &size) ==
                   ERROR_SUCCESS;
        if (existed_) {
            saved_ = data;
        }
    }
    ~SavedValue() { existed_ ? set(saved_) : remove(); }
    void set(const std::string& value) {
        ::RegSetKeyValueA(root_, key_, name_, REG_SZ, value.c_str(),
                          static_cast<DWORD>(value.size() + 1));
    }
    void remove() { ::RegDeleteKeyValueA(root_, key_, name_); }
    std::string get() const {
        char data[1024];
        DWORD size = sizeof data;
        return ::RegGetValueA(root_, key_, name_, RRF_RT_REG_SZ, nullptr, data, &size) ==
                       ERROR_SUCCESS
                   ? data
                   : "<absent>";
    }

private:
    HKEY root_;
    const char* key_;
    const char* name_;
    bool existed_ = false;
    std::string saved_;
};

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        unique_hkey probe;
        if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, "VMware.Document", 0, KEY_READ, probe.put()) ==
            ERROR_SUCCESS) {
            GTEST_SKIP() << "a VMware document class exists on this machine";
        }
        registered_ = true;
        char appData[MAX_PATH] = {};
        if (::GetEnvironmentVariableA("APPDATA", appData, sizeof appData) > 0) {
            savedAppData_ = appData;
        }
        ::CreateDirectoryA(dir.file("appdata").c_str(), nullptr);
        ::CreateDirectoryA(dir.file("appdata\\VMware").c_str(), nullptr);
        ::SetEnvironmentVariableA("APPDATA", dir.file("appdata").c_str());
        setChannelTransportFactory([this] { return std::make_unique<RecordingTransport>(&sent); });
        writeVmx(kOtherMac);
        player = dir.add("vmplayer.exe", playerScenario(""), true);
        dir.add("vmware-vmx.exe", vmScenario(""), true);
        registerPlayer("\"" + player + "\" \"%1\"");
    }

    void TearDown() override {
        // End whatever a failed case left running: only the processes this test started.
        for (const char* file : {"player.pid", "vm.pid", "launcher.pid"}) {
            for (DWORD pid : pids(file)) {
                unique_handle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
                if (process && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {
                    ::TerminateProcess(process.get(), 1);
                    ::WaitForSingleObject(process.get(), 2000);
                }
            }
        }
        setChannelTransportFactory({});
        if (registered_) {
            ::RegDeleteTreeA(HKEY_CLASSES_ROOT, "VMware.Document");
            ::RegDeleteKeyA(HKEY_CLASSES_ROOT, "VMware.Document");
            ::SetEnvironmentVariableA("APPDATA",
                                      savedAppData_.empty() ? nullptr : savedAppData_.c_str());
        }
    }

    std::string playerScenario(const std::string& extra) {
        return "window_class=VMPlayerFrame\n"
               "window_title=VMware Player\n"
               "show=1\n"
               "show_file=" +
               dir.file("show.txt") +
               "\n"
               "pid_file=" +
               dir.file("player.pid") +
               "\n"
               "spawn=\"{dir}\\vmware-vmx.exe\" -s vmx.stdio.keep=TRUE {args}\n" +
               extra;
    }
    std::string vmScenario(const std::string& extra) {
        return "hold={argdir}\\vmware.log\n"
               "hold_text=2026-12-10T08:00:00.000Z In(05) vmx Log for VMware Player pid={pid} "
               "version=17.5.2 build-23775571\\n\n"
               "pid_file=" +
               dir.file("vm.pid") +
               "\n"
               "watch_parent=1\n"
               "off_file=" +
               dir.file("appliance.off") + "\n" + extra;
    }

    // The stand-ins are in place: a case only changes what one of them does.
    void setScenario(const char* stem, const std::string& scenario) {
        std::ofstream(dir.file(std::string(stem) + ".scenario"), std::ios::binary) << scenario;
    }

    void registerPlayer(const std::string& value) {
        ASSERT_EQ(::RegSetKeyValueA(HKEY_CLASSES_ROOT, kVmwareOpenCommandKey, nullptr, REG_SZ,
                                    value.c_str(), static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
    }

    void writeVmx(const char* mac) {
        std::ofstream(vmx, std::ios::binary) << "config.version = \"8\"\n"
                                             << "uuid.bios = \"" << kUuidText << "\"\n"
                                             << "ethernet0.generatedAddress = \"" << mac << "\"\n";
    }

    void acceptLicence(const std::string& lines) {
        std::ofstream(dir.file("appdata\\VMware\\preferences.ini"), std::ios::binary)
            << "pref.eula.size = \"1\"\n"
            << lines;
    }

    void writeStaleFiles() {
        for (const char* name : {"Velmora.vmss", "Velmora.vmem", kUuidMemory, "vmware.log"}) {
            std::ofstream(dir.file(name)) << "stale\n";
        }
    }
    bool exists(const char* name) const {
        return ::GetFileAttributesA(dir.file(name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    std::vector<DWORD> pids(const char* file) const {
        std::vector<DWORD> list;
        std::istringstream in(StandinDir::read(dir.file(file)));
        for (unsigned long pid = 0; in >> pid;) {
            list.push_back(static_cast<DWORD>(pid));
        }
        return list;
    }
    DWORD lastPid(const char* file) const {
        const auto list = pids(file);
        return list.empty() ? 0 : list.back();
    }

    // Configured (state 1) with the appliance's MAC read from the VMX file, as the status poll
    // would before stopping.
    std::unique_ptr<CvmxPlayer> configuredPlayer() {
        auto backend = std::make_unique<CvmxPlayer>();
        EXPECT_EQ(backend->configure(vmx.c_str()), 0);
        EXPECT_EQ(backend->readApplianceMac(kBackendPlayer), 0);
        return backend;
    }

    // Waits until the VM stand-in holds the log with its process id.
    bool vmLogHeld() {
        return waitFor([this] {
            return vmPidFromLogLine(StandinDir::read(dir.file("vmware.log")).c_str()) != 0 &&
                   lastPid("vm.pid") != 0;
        });
    }

    HWND hiddenFrame() const {
        return ::FindWindowExA(HWND_MESSAGE, nullptr, kPlayerWindowClass, vmx.c_str());
    }
    // The Player's frame on the desktop: visible, of the Player's process.
    HWND desktopFrame(DWORD playerPid) const {
        HWND window = nullptr;
        while ((window = ::FindWindowExA(nullptr, window, kPlayerWindowClass, nullptr)) !=
               nullptr) {
            DWORD pid = 0;
            ::GetWindowThreadProcessId(window, &pid);
            if (pid == playerPid && ::IsWindowVisible(window)) {
                return window;
            }
        }
        return nullptr;
    }

    StandinDir dir;
    std::string vmx = dir.file("Velmora.vmx");
    std::string player;
    SentLog sent;

private:
    bool registered_ = false;
    std::string savedAppData_;
};

TEST_F(PlayerTest, StartUpChoosesTheRegisteredPlayer) {
    BackendChoice choice = chooseBackend(vmx.c_str());
    ASSERT_EQ(choice.result, 0);
    auto* backend = dynamic_cast<CvmxPlayer*>(choice.backend.get());
    ASSERT_NE(backend, nullptr);
    EXPECT_EQ(backend->backendType, kBackendPlayer);
    EXPECT_EQ(backend->launchCommand, "\"" + player + "\" \"" + vmx + "\"");
    EXPECT_EQ(backend->logPath, dir.file("vmware.log"));
    EXPECT_EQ(backend->networkEditorCommand, "\"" + dir.file("vmnetcfg.exe") + "\"");
    choice.backend.reset();

    registerPlayer(player); // no placeholder: a quoted one is appended
    {
        CvmxPlayer backend;
        ASSERT_EQ(backend.configure(vmx.c_str()), 0);
        EXPECT_EQ(backend.launchCommand, player + " \"" + vmx + "\"");
    }
    registerPlayer("\"" + player + "\" \"%2\""); // unusable: Workstation is tried, then none
    choice = chooseBackend(vmx.c_str());
    EXPECT_EQ(choice.result, kErrorNotInstalled);
    EXPECT_EQ(choice.backend, nullptr);
}

TEST_F(PlayerTest, StartHidesThePlayerOnlyWhenTheLicenceWasAccepted) {
    struct Case {
        const char* name;
        const char* preferences; // null: no preferences file
        int showConsole;
        const char* show; // the start-up information the Player got
        bool hidden;
    } cases[] = {
        {"accepted for this version", kAcceptedByVersion, 0, "show=7", true},
        {"accepted for this build, console asked for", kAcceptedByBuild, 1, "show=7", false},
        {"accepted for another build", "pref.eula.0.buildNumber = \"1234\"\n", 0, "show=default",
         false},
        {"no preferences", nullptr, 0, "show=default", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ::DeleteFileA(dir.file("appdata\\VMware\\preferences.ini").c_str());
        if (c.preferences != nullptr) {
            acceptLicence(c.preferences);
        }
        ::DeleteFileA(dir.file("show.txt").c_str());
        ::DeleteFileA(dir.log().c_str());
        writeStaleFiles();
        sent.datagrams.clear();

        auto backend = configuredPlayer();
        ASSERT_EQ(backend->start(c.showConsole), 0);
        EXPECT_EQ(backend->state, kStarting);
        // No VM ran from the file: the stale log did not count and the memory files are gone.
        for (const char* name : {"Velmora.vmss", "Velmora.vmem", kUuidMemory}) {
            EXPECT_FALSE(exists(name)) << name;
        }
        ASSERT_TRUE(vmLogHeld());
        const auto lines = dir.waitForLogLines(2);
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[0], backend->launchCommand);
        EXPECT_EQ(lines[1],
                  "\"" + dir.file("vmware-vmx.exe") + "\" -s vmx.stdio.keep=TRUE \"" + vmx + "\"");
        EXPECT_EQ(StandinDir::read(dir.file("show.txt")), std::string(c.show) + "\n");
        const DWORD playerPid = lastPid("player.pid");
        EXPECT_EQ(backend->playerProcess.processId, playerPid);
        // Not open to everyone: the Player runs with this program's administrator rights.
        EXPECT_EQ(processDacl(backend->playerProcess.process), "set");
        if (c.hidden) {
            EXPECT_NE(hiddenFrame(), nullptr);
            EXPECT_EQ(desktopFrame(playerPid), nullptr);
        } else {
            EXPECT_EQ(hiddenFrame(), nullptr);
            HWND frame = desktopFrame(playerPid);
            ASSERT_NE(frame, nullptr);
            char title[64] = {};
            ::GetWindowTextA(frame, title, sizeof title);
            EXPECT_STREQ(title, "VMware Player");
        }
        EXPECT_EQ(backend->pollState(1, 0), kStarting);

        // Not a VMware or VirtualBox MAC: no shutdown request, the window closes at once.
        const auto stopStart = Clock::now();
        EXPECT_EQ(backend->stop(), 0);
        EXPECT_LT(msSince(stopStart), 4000);
        EXPECT_TRUE(sent.datagrams.empty());
        EXPECT_EQ(backend->state, kStopped);
        EXPECT_FALSE(running(playerPid));
        EXPECT_TRUE(waitFor([&] { return !running(lastPid("vm.pid")); }));
        EXPECT_TRUE(exists("appliance.off")); // the VM stand-in ended on its own
        EXPECT_EQ(backend->playerProcess.process, nullptr);
        EXPECT_EQ(backend->vmProcess, nullptr);
        ::DeleteFileA(dir.file("appliance.off").c_str());
    }
}

TEST_F(PlayerTest, AVmLeftRunningIsFoundAgainThroughItsLogAndPlayer) {
    acceptLicence(kAcceptedByVersion);
    {
        auto first = configuredPlayer();
        ASSERT_EQ(first->start(0), 0);
        ASSERT_TRUE(vmLogHeld());
        // The backend goes away (program exit) and leaves the VM running.
    }
    const DWORD playerPid = lastPid("player.pid");
    const DWORD vmPid = lastPid("vm.pid");
    ASSERT_TRUE(running(playerPid));
    ASSERT_TRUE(running(vmPid));
    ASSERT_NE(hiddenFrame(), nullptr);

    std::ofstream(dir.file("Velmora.vmem")) << "in use\n";
    auto second = configuredPlayer();
    EXPECT_EQ(second->state, kConfigured);
    EXPECT_EQ(second->pollState(1, 0), kStarting); // prepare finds the VM
    EXPECT_EQ(second->vmProcessId, vmPid);
    EXPECT_NE(second->vmProcess, nullptr);
    EXPECT_EQ(second->playerProcess.processId, playerPid);
    EXPECT_NE(second->playerProcess.process, nullptr);
    EXPECT_EQ(second->start(0), kErrorNotStopped);
    EXPECT_TRUE(exists("Velmora.vmem"));
    EXPECT_EQ(second->pollState(1, 0), kStarting);

    // The hidden window is found by its title and closed; nothing needs terminating.
    const auto stopStart = Clock::now();
    EXPECT_EQ(second->stop(), 0);
    EXPECT_LT(msSince(stopStart), 4000);
    EXPECT_EQ(second->state, kStopped);
    EXPECT_FALSE(running(playerPid));
    EXPECT_TRUE(waitFor([&] { return !running(vmPid); }));
    EXPECT_EQ(hiddenFrame(), nullptr);
    EXPECT_EQ(dir.logLines().size(), 2u); // one Player, one VM
}

TEST_F(PlayerTest, AParentThatIsNotThePlayerIsNotTaken) {
    const std::string launcher = dir.add("launcher.exe",
                                         "stay=1\npid_file=" + dir.file("launcher.pid") +
                                             "\nspawn=\"{dir}\\vmware-vmx.exe\" \"" + vmx + "\"\n",
                                         true);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    std::string command = "\"" + launcher + "\"";
    ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &created));
    unique_handle launcherProcess(created.hProcess);
    unique_handle launcherThread(created.hThread);
    ASSERT_TRUE(vmLogHeld());
    const DWORD vmPid = lastPid("vm.pid");

    auto backend = configuredPlayer();
    EXPECT_EQ(backend->pollState(1, 0), kStarting);
    EXPECT_NE(backend->vmProcess, nullptr);
    EXPECT_EQ(backend->playerProcess.processId, created.dwProcessId); // the parent's id...
    EXPECT_EQ(backend->playerProcess.process, nullptr);               // ...but not its process

    // No Player to close: the VM is waited for and then terminated.
    const auto stopStart = Clock::now();
    EXPECT_EQ(backend->stop(), 0);
    const auto took = msSince(stopStart);
    EXPECT_GE(took, 900);
    EXPECT_LT(took, 4000);
    EXPECT_FALSE(running(vmPid));
    EXPECT_TRUE(running(created.dwProcessId));
    EXPECT_EQ(backend->state, kStopped);
}

TEST_F(PlayerTest, ALockedLogWithoutProcessIdStartsNothing) {
    // Something holds the log, but it names no process: no VM can be found, none is started.
    setScenario("vmware-vmx", "hold={argdir}\\vmware.log\nhold_text=no id here\\n\nstay=1\n"
                              "pid_file=" +
                                  dir.file("vm.pid") + "\n");
    const std::string holder = dir.file("vmware-vmx.exe");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    std::string command = "\"" + holder + "\" \"" + vmx + "\"";
    ASSERT_TRUE(::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &created));
    unique_handle holderProcess(created.hProcess);
    unique_handle holderThread(created.hThread);
    ASSERT_TRUE(
        waitFor([&] { return StandinDir::read(dir.file("vmware.log")) == "no id here\n"; }));
    std::ofstream(dir.file("Velmora.vmem")) << "in use\n";

    auto backend = configuredPlayer();
    EXPECT_EQ(backend->pollState(1, 0), kStopped);
    EXPECT_EQ(backend->start(0), 0);
    EXPECT_EQ(backend->state, kStarting);
    EXPECT_EQ(backend->playerProcess.process, nullptr);
    EXPECT_TRUE(exists("Velmora.vmem"));
    EXPECT_EQ(pids("player.pid").size(), 0u);
    EXPECT_EQ(backend->pollState(1, 0), kStopped); // and the next look finds nothing running
}

TEST_F(PlayerTest, StopAsksForShutdownThenTerminatesAPlayerThatIgnoresClose) {
    acceptLicence(kAcceptedByVersion);
    writeVmx(kVmwareMac);
    setScenario("vmplayer", playerScenario("ignore_close=1\n"));
    // A suffix list the appliance put in force, which stop must put back before anything else.
    SavedValue searchList(HKEY_LOCAL_MACHINE, kTcpipParameters, "SearchList");
    SavedValue backup(HKEY_LOCAL_MACHINE, kTcpipParameters, "SearchListBackupSC");
    searchList.set("appliance.example");
    backup.set("user.example");

    auto backend = configuredPlayer();
    backend->shutdownGraceMs = 500;
    ASSERT_EQ(backend->start(0), 0);
    ASSERT_TRUE(vmLogHeld());
    const DWORD playerPid = lastPid("player.pid");
    const DWORD vmPid = lastPid("vm.pid");
    ASSERT_NE(hiddenFrame(), nullptr);

    std::string listAtShutdown;
    bool playerAliveAtShutdown = false;
    sent.onSend = [&] {
        listAtShutdown = searchList.get();
        playerAliveAtShutdown = running(playerPid);
    };
    const auto stopStart = Clock::now();
    EXPECT_EQ(backend->stop(), 0);
    const auto took = msSince(stopStart);

    ASSERT_EQ(sent.datagrams.size(), 1u);
    std::unique_ptr<protocol::Message> request;
    ASSERT_EQ(protocol::Message::parse(sent.datagrams[0].data(),
                                       static_cast<int>(sent.datagrams[0].size()), 0, &request),
              0);
    EXPECT_EQ(request->flags() & ~protocol::flags::kDirected, protocol::flags::kAction);
    const std::uint8_t mac[6] = {0x00, 0x0c, 0x29, 0x4f, 0x11, 0xa2};
    EXPECT_TRUE(std::equal(mac, mac + 6, request->mac().bytes.begin()));
    EXPECT_TRUE(playerAliveAtShutdown);
    EXPECT_EQ(listAtShutdown, searchList.get()); // already what stop leaves behind

    // Grace, then 5000 ms for the Player to close before it is terminated.
    EXPECT_GE(took, 500 + 5000);
    EXPECT_LT(took, 500 + 5000 + 3000);
    EXPECT_FALSE(running(playerPid));
    EXPECT_TRUE(waitFor([&] { return !running(vmPid); }));
    EXPECT_EQ(backend->state, kStopped);
}

TEST_F(PlayerTest, AVmThatEndedIsSeenGoneWhateverItsExitCode) {
    acceptLicence(kAcceptedByVersion);
    setScenario("vmware-vmx", vmScenario("exit=259\n")); // the code of a running process
    auto backend = configuredPlayer();
    ASSERT_EQ(backend->start(0), 0);
    ASSERT_TRUE(vmLogHeld());
    EXPECT_EQ(backend->pollState(1, 0), kStarting);
    ASSERT_NE(backend->vmProcess, nullptr);

    HWND frame = hiddenFrame();
    ASSERT_NE(frame, nullptr);
    ::PostMessageA(frame, WM_CLOSE, 0, 0); // the user ends the VM from VMware
    ASSERT_TRUE(waitFor([&] { return !running(lastPid("vm.pid")); }));
    EXPECT_EQ(backend->pollState(1, 0), kStopped);
    EXPECT_EQ(backend->vmProcess, nullptr);
    EXPECT_FALSE(exists("vmware.log")); // released, and removed by the look for a VM
}

// ---- Against the appliance simulator, inside the private namespaces (tests/e2e/player_e2e.sh) --
// The script installs the stand-ins (tests/standins/install-player-standin) in the folder named by
// VELMORA_PLAYER_E2E_DIR, with the simulator's off switch VELMORA_PLAYER_E2E_OFF, and reads the
// simulator's log afterwards. Skipped elsewhere.

namespace e2e {

int askStatus(const CvmxPlayer& backend) {
    protocol::StatusReply reply;
    protocol::RequestChannel* channel = requestChannel();
    return channel != nullptr ? protocol::requestStatus(*channel, backend.info.mac, &reply) : -1;
}

TEST(PlayerNs, ShutdownRequestAndTheSimulatorsOffSwitch) {
    const char* folder = std::getenv("VELMORA_PLAYER_E2E_DIR");
    const char* offFile = std::getenv("VELMORA_PLAYER_E2E_OFF");
    if (folder == nullptr || offFile == nullptr) {
        GTEST_SKIP() << "runs only inside tests/e2e/player_e2e.sh";
    }
    const std::string dir = folder;
    const std::string vmx = dir + "\\Velmora.vmx";
    char saved[MAX_PATH];
    ::GetCurrentDirectoryA(sizeof saved, saved);
    ::SetCurrentDirectoryA(dir.c_str()); // the program runs in the VMX file's folder
    setChannelTransportFactory(
        [] { return std::make_unique<protocol::WinsockTransport>(protocol::kTargetUnknown); });
    auto exists = [](const char* path) {
        return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
    };
    auto vmPid = [&] {
        std::istringstream in(StandinDir::read(dir + "\\vm.pid"));
        unsigned long pid = 0;
        for (unsigned long next = 0; in >> next;) {
            pid = next;
        }
        return static_cast<DWORD>(pid);
    };

    struct Case {
        const char* mac;
        bool shutdownAsked; // the script counts the requests the simulator received
    } cases[] = {{"00:0c:29:e2:e2:01", true}, {"52:54:00:e2:e2:01", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mac);
        std::ofstream(vmx, std::ios::binary)
            << "config.version = \"8\"\nethernet0.generatedAddress = \"" << c.mac << "\"\n";
        CvmxPlayer backend;
        ASSERT_EQ(backend.configure(vmx.c_str()), 0);
        ASSERT_EQ(backend.readApplianceMac(kBackendPlayer), 0);
        if (c.shutdownAsked) {
            // No VM yet: the appliance is off and does not answer.
            EXPECT_TRUE(exists(offFile));
            EXPECT_NE(askStatus(backend), 0);
        }
        const DWORD before = vmPid();
        ASSERT_EQ(backend.start(0), 0);
        ASSERT_TRUE(waitFor([&] { return vmPid() != before && !exists(offFile); }));
        const DWORD vm = vmPid();
        if (c.shutdownAsked) {
            EXPECT_TRUE(waitFor([&] { return askStatus(backend) == 0; }, 5000));
        }
        EXPECT_EQ(backend.pollState(1, 0), kStarting);

        const auto stopStart = Clock::now();
        EXPECT_EQ(backend.stop(), 0);
        const auto took = msSince(stopStart);
        if (c.shutdownAsked) {
            EXPECT_GE(took, 10000); // the appliance was given its time to shut down
            EXPECT_LT(took, 10000 + 4000);
        } else {
            EXPECT_LT(took, 4000);
        }
        EXPECT_EQ(backend.state, kStopped);
        EXPECT_TRUE(waitFor([&] { return !running(vm); }));
        EXPECT_TRUE(exists(offFile)); // the VM ended, the appliance went quiet
        EXPECT_NE(askStatus(backend), 0);
    }
    setChannelTransportFactory({});
    ::SetCurrentDirectoryA(saved);
}

} // namespace e2e

} // namespace
} // namespace velmora::vm
