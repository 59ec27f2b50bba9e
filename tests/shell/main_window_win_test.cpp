#include <windows.h>
#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_handle.h"
#include "resource.h"
#include "shell/error_text.h"
#include "shell/service.h"
#include "shell/shell_app.h"
#include "vm/temp_dir.h"

namespace velmora::shell {
namespace {

using vm::testing::TempDir;
using vm::testing::writeText;

std::vector<std::string> g_calls;

// A backend whose VM does what the test sets; start and stop are recorded.
class FakeBackend : public vm::Cvmx {
public:
    FakeBackend() { backendType = vm::kBackendPlayer; }
    int open() override { return 0; }
    int close() override { return 0; }
    int prepare() override { return 0; }
    void releaseProcesses() override {}
    int start(int showConsole) override {
        g_calls.push_back("start " + std::to_string(showConsole));
        if (startResult == 0) {
            state = vm::kStarting;
        }
        return startResult;
    }
    int stop() override {
        g_calls.push_back("stop");
        state = vm::kStopped;
        return 0;
    }
    int pollState(int, int) override {
        if (state < vm::kStopped) {
            state = vm::kStopped;
        }
        return state;
    }
    int setUp() override { return 0; }

    static inline int startResult = 0;
};

struct Chosen {
    static inline int result = 0; // with no backend: the configure result start-up sees
    static inline bool withBackend = true;
};

vm::BackendChoice chooseForTest(const char* path) {
    vm::BackendChoice choice;
    if (!Chosen::withBackend) {
        choice.result = Chosen::result;
        return choice;
    }
    auto backend = std::make_unique<FakeBackend>();
    choice.result = backend->configure(path);
    if (choice.result == 0) {
        choice.backend = std::move(backend);
    }
    return choice;
}

// Answers the first dialog with this caption that this process shows: returns its static texts
// (and the text of control `textId`, when given) after pressing `button`.
// Gives up after waitMs.
std::future<std::vector<std::string>> answerDialog(const char* caption, int button, int textId = 0,
                                                   int waitMs = 10000) {
    return std::async(std::launch::async, [caption, button, textId, waitMs] {
        std::vector<std::string> texts;
        for (int i = 0; i < waitMs / 25; ++i) {
            HWND box = ::FindWindowA("#32770", caption);
            DWORD pid = 0;
            if (box != nullptr) {
                ::GetWindowThreadProcessId(box, &pid);
            }
            if (box != nullptr && pid == ::GetCurrentProcessId() && ::IsWindowVisible(box)) {
                ::Sleep(50);
                for (HWND c = ::GetWindow(box, GW_CHILD); c != nullptr;
                     c = ::GetWindow(c, GW_HWNDNEXT)) {
                    char cls[32];
                    char text[2048];
                    ::GetClassNameA(c, cls, sizeof cls);
                    ::GetWindowTextA(c, text, sizeof text);
                    if (lstrcmpiA(cls, "Static") == 0 && text[0] != '\0') {
                        texts.push_back(text);
                    }
                }
                if (textId != 0) {
                    char text[256];
                    ::GetDlgItemTextA(box, textId, text, sizeof text);
                    texts.insert(texts.begin(), text);
                }
                ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                return texts;
            }
            ::Sleep(25);
        }
        return texts;
    });
}

void pump() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            continue;
        }
        ::DispatchMessageA(&msg);
    }
}

class MainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shellApp().instance = ::GetModuleHandleA(nullptr);
        registerMainWindowClass(shellApp().instance);
        setBackendChooser(chooseForTest);
    }
    static void TearDownTestSuite() { setBackendChooser(nullptr); }
    void SetUp() override {
        writeText(vmx, "config.version = \"8\"\nEthernet0.connectionType = \"nat\"\n");
        shellApp().vmxPath = vmx;
        shellApp().options = makeOptionTable();
        g_calls.clear();
        Chosen::withBackend = true;
        FakeBackend::startResult = 0;
    }
    void TearDown() override {
        shutDownShell();
        pump();
    }
    static FakeBackend& backend() { return static_cast<FakeBackend&>(*shellApp().backend); }
    static LRESULT send(UINT msg, WPARAM wParam, LPARAM lParam) {
        return ::SendMessageA(shellApp().mainWindow, msg, wParam, lParam);
    }
    static LRESULT command(WPARAM id, LPARAM lParam = 0) { return send(WM_COMMAND, id, lParam); }
    static std::string tooltip() { return shellApp().tray.record().szTip; }

    TempDir dir;
    std::string vmx = dir.file("Velmora.vmx");
};

TEST_F(MainWindow, StartUpErrorsShowTheirTextAndReturnTheCode) {
    Chosen::withBackend = false;
    struct Case {
        int code;
        std::string text; // empty: no box
    };
    const Case cases[] = {
        {1060, "VMware is not installed on this machine."},
        {1062, ""},
        {5, errorText(5)},
        {static_cast<int>(0x80040210u), errorText(0x80040210u)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Chosen::result = c.code;
        auto answer = answerDialog("Error", IDOK, 0, c.text.empty() ? 1500 : 10000);
        EXPECT_EQ(startUp(shellApp().instance), c.code);
        const std::vector<std::string> texts = answer.get();
        if (c.text.empty()) {
            EXPECT_TRUE(texts.empty());
        } else {
            ASSERT_EQ(texts.size(), 1u);
            EXPECT_EQ(texts[0], c.text);
        }
        EXPECT_EQ(shellApp().backend, nullptr);
        shutDownShell();
        pump(); // the destroyed window's quit message would end the next box at once
    }
    EXPECT_EQ(errorText(5).find('\n'), std::string::npos);
}

TEST_F(MainWindow, StartUpTitlesTheWindowAddsTheIconAndStartsThePollTimer) {
    ASSERT_EQ(startUp(shellApp().instance), 0);
    char title[MAX_PATH];
    ::GetWindowTextA(shellApp().mainWindow, title, sizeof title);
    EXPECT_EQ(title, vmx);
    char cls[100];
    ::GetClassNameA(shellApp().mainWindow, cls, sizeof cls);
    EXPECT_STREQ(cls, "TARNTRAYICON");
    EXPECT_FALSE(::IsWindowVisible(shellApp().mainWindow));
    EXPECT_EQ(::FindWindowA("TARNTRAYICON", vmx.c_str()), shellApp().mainWindow);
    EXPECT_EQ(tooltip(), "Velmora");
    EXPECT_FALSE(shellApp().tray.isRemoved());
    EXPECT_EQ(shellApp().tray.record().hIcon, iconForSlot(4));
    EXPECT_EQ(shellApp().pollTimer.period(), 1000u);
    EXPECT_EQ(shellApp().refreshTimer.period(), 0u);
    EXPECT_EQ(backend().mainWindow, shellApp().mainWindow);
    EXPECT_EQ(backend().state, vm::kConfigured);
    EXPECT_NE(shellApp().taskbarCreatedMessage, 0u);
}

TEST_F(MainWindow, PollTickRefreshesThenPacesAndRunsPendingRequests) {
    ASSERT_EQ(startUp(shellApp().instance), 0);
    OptionTable& options = shellApp().options;
    // A start that fails is tried once without autostart.
    FakeBackend::startResult = 1060;
    options.set(kOptStart);
    send(WM_TIMER, shellApp().pollTimer.id(), 0);
    EXPECT_EQ(tooltip(), "Velmora: Stopped");
    EXPECT_EQ(shellApp().pollTimer.period(), 10000u);
    EXPECT_EQ(g_calls, std::vector<std::string>{"start 0"});
    EXPECT_FALSE(options.present(kOptStart));

    FakeBackend::startResult = 0;
    options.set(kOptStart);
    options.set(kOptStop);
    send(WM_TIMER, shellApp().pollTimer.id(), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"start 0", "start 0", "stop"}));
    EXPECT_FALSE(options.present(kOptStart));
    EXPECT_FALSE(options.present(kOptStop));
    EXPECT_EQ(tooltip(), "Velmora: Stopped");

    // Another timer id does nothing; message 0 answers 0.
    send(WM_TIMER, 12345, 0);
    EXPECT_EQ(g_calls.size(), 3u);
    EXPECT_EQ(send(0, 0, 0), 0);
}

TEST_F(MainWindow, CommandsDriveTheBackendAndTheDisplay) {
    ASSERT_EQ(startUp(shellApp().instance), 0);
    OptionTable& options = shellApp().options;
    command(ID_START, 1); // from the tray menu with Shift: show the console
    EXPECT_EQ(g_calls, std::vector<std::string>{"start 1"});
    EXPECT_EQ(tooltip(), "Velmora: Starting...");
    EXPECT_EQ(shellApp().refreshTimer.period(), 5000u);
    EXPECT_EQ(shellApp().tray.record().hIcon, iconForSlot(3));

    // Browse and xstatus while Starting: both wait.
    command(ID_BROWSE);
    EXPECT_TRUE(options.present(kOptBrowse));
    options.clear(kOptBrowse); // (opening the console is the browser's business, not this test's)

    WSADATA data;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    int len = sizeof at;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len);
    ::listen(listener, 1);
    const int port = ::ntohs(at.sin_port);
    command(ID_XSTATUS, port);
    EXPECT_TRUE(options.present(kOptXstatus));
    EXPECT_EQ(options.rows[kOptXstatus].value, port);

    // The appliance answers: at the next refresh tick the report goes out.
    backend().state = vm::kRunning;
    backend().info.address = ::htonl(0x0A000005); // 10.0.0.5
    supervision::copyText(backend().info.quorvaneText, "Connected");
    send(WM_TIMER, shellApp().refreshTimer.id(), 0);
    EXPECT_FALSE(options.present(kOptXstatus));
    EXPECT_EQ(tooltip(), "Velmora: Running\nQV: Connected");
    EXPECT_EQ(shellApp().refreshTimer.period(), 60000u);
    EXPECT_EQ(shellApp().tray.record().hIcon, iconForSlot(1));
    SOCKET peer = ::accept(listener, nullptr, nullptr);
    ASSERT_NE(peer, INVALID_SOCKET);
    std::string report;
    char buffer[2048];
    for (int n; (n = ::recv(peer, buffer, sizeof buffer, 0)) > 0;) {
        report.append(buffer, n);
    }
    ::closesocket(peer);
    ::closesocket(listener);
    ::WSACleanup();
    EXPECT_EQ(report.rfind("State: Running\n", 0), 0u) << report;
    EXPECT_NE(report.find("\nIP Address: 10.0.0.5\n\nQuorvane: Connected"), std::string::npos);

    // Status shows the report in a box owned by the main window.
    auto status = answerDialog("Status", IDOK);
    command(ID_STATUS);
    const auto texts = status.get();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("State: Running\r\nDevice Name: ", 0) == 0 ||
                  texts[0].rfind("State: Running\nDevice Name: ", 0) == 0,
              true)
        << texts[0];

    auto about = answerDialog("About", IDOK, IDC_ABOUT_TITLE);
    command(ID_ABOUT);
    const auto aboutTexts = about.get();
    ASSERT_FALSE(aboutTexts.empty());
    EXPECT_EQ(aboutTexts[0], "Velmora Tray Icon");

    // The Alt+"?" accelerator gives About too.
    HACCEL accel = ::LoadAcceleratorsA(shellApp().instance, MAKEINTRESOURCEA(IDC_VELMORA));
    ASSERT_NE(accel, nullptr);
    ACCEL table[4];
    const int n = ::CopyAcceleratorTableA(accel, table, 4);
    ASSERT_EQ(n, 2);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(table[i].cmd, ID_ABOUT);
        EXPECT_TRUE(table[i].fVirt & FALT);
    }

    command(ID_STOP);
    EXPECT_EQ(g_calls.back(), "stop");
    EXPECT_EQ(tooltip(), "Velmora: Stopped");
    EXPECT_EQ(shellApp().refreshTimer.period(), 0u);
}

TEST_F(MainWindow, TaskbarCreatedBringsTheIconBackWithTheCurrentState) {
    ASSERT_EQ(startUp(shellApp().instance), 0);
    command(ID_START);
    const HWND hiddenBefore = shellApp().tray.hiddenWindow();
    send(shellApp().taskbarCreatedMessage, 0, 0);
    EXPECT_NE(shellApp().tray.hiddenWindow(), nullptr);
    EXPECT_NE(shellApp().tray.hiddenWindow(), hiddenBefore);
    EXPECT_FALSE(shellApp().tray.isRemoved());
    EXPECT_EQ(tooltip(), "Velmora: Starting...");
    EXPECT_EQ(shellApp().tray.record().hIcon, iconForSlot(3));
}

TEST_F(MainWindow, ExitStopsTheVmUnlessShiftWasHeld) {
    for (LPARAM shift : {1, 0}) {
        SCOPED_TRACE(shift);
        g_calls.clear();
        ASSERT_EQ(startUp(shellApp().instance), 0);
        command(ID_START);
        command(ID_EXIT, shift);
        EXPECT_EQ(shellApp().mainWindow, nullptr);
        EXPECT_EQ(shellApp().pollTimer.period(), 0u);
        EXPECT_EQ(shellApp().refreshTimer.period(), 0u);
        EXPECT_EQ(g_calls.back(), shift ? "start 0" : "stop");
        MSG msg;
        ASSERT_TRUE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(msg.wParam, 0u);
        shutDownShell();
        pump();
    }
}

// The service "Velmora" with automatic start, for the length of a test.
class AutostartService {
public:
    AutostartService() {
        manager_.reset(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        char self[MAX_PATH];
        ::GetModuleFileNameA(nullptr, self, sizeof self);
        if (manager_) {
            service_.reset(::CreateServiceA(manager_.get(), kServiceName, kServiceName,
                                            SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                            SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, self, nullptr,
                                            nullptr, nullptr, nullptr, nullptr));
        }
    }
    ~AutostartService() {
        if (service_) {
            ::DeleteService(service_.get());
        }
    }
    bool created() const { return service_.valid(); }

private:
    unique_schandle manager_;
    unique_schandle service_;
};

TEST_F(MainWindow, WithAutostartAFailedStartIsRetriedAndExitLeavesTheVmRunning) {
    EXPECT_FALSE(isAutostartEnabled());
    AutostartService service;
    if (!service.created()) {
        GTEST_SKIP() << "cannot create a service here";
    }
    EXPECT_TRUE(isAutostartEnabled());
    ASSERT_EQ(startUp(shellApp().instance), 0);
    OptionTable& options = shellApp().options;
    FakeBackend::startResult = 1060;
    options.set(kOptStart);
    send(WM_TIMER, shellApp().pollTimer.id(), 0);
    send(WM_TIMER, shellApp().pollTimer.id(), 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"start 0", "start 0"}));
    EXPECT_TRUE(options.present(kOptStart)); // tried again at the next tick
    FakeBackend::startResult = 0;
    send(WM_TIMER, shellApp().pollTimer.id(), 0);
    EXPECT_FALSE(options.present(kOptStart)); // the VM runs now
    command(ID_EXIT);
    EXPECT_EQ(g_calls.back(), "start 0"); // not stopped
    EXPECT_EQ(shellApp().mainWindow, nullptr);
}

} // namespace
} // namespace velmora::shell
