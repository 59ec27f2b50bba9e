#include <windows.h>
#include <winsock2.h>

#include <string>

#include "resource.h"
#include "shell/console.h"
#include "shell/dialogs.h"
#include "shell/error_text.h"
#include "shell/launch.h"
#include "shell/service.h"
#include "shell/shell_app.h"
#include "shell/status_refresh.h"

namespace velmora::shell {
namespace {

// Constructed with the program, before the entry runs (the tray object registers
// "TaskbarCreated" for its hidden window then).
ShellApp g_app;
BackendChooser g_chooser = nullptr;

class MainWindowTimers : public TimerHost {
public:
    void startTimer(std::uintptr_t id, unsigned milliseconds) override {
        ::SetTimer(g_app.mainWindow, id, milliseconds, nullptr);
    }
    void killTimer(std::uintptr_t id) override { ::KillTimer(g_app.mainWindow, id); }
};
MainWindowTimers g_timers;

void setTimer(IntervalTimer& timer, unsigned milliseconds) {
    timer.set(g_timers, milliseconds);
}

// What refreshStatus draws on: the tray icon and its menu, the refresh timer, a TCP connection
// for the report and the browser.
class TrayDisplay : public StatusDisplay {
public:
    ~TrayDisplay() override { closeReport(); }
    void setIconSlot(int slot) override { g_app.tray.setIcon(iconForSlot(slot)); }
    void setTooltip(const char* text) override { g_app.tray.setTooltip(text); }
    void setMenuItemGrayed(unsigned id, bool grayed) override {
        g_app.tray.setMenuItemGrayed(id, grayed ? 1 : 0);
    }
    void renameMenuItem(unsigned id, const char* text) override {
        g_app.tray.renameMenuItem(id, text);
    }
    void setDefaultMenuItem(unsigned id) override { g_app.tray.setDefaultMenuItem(id, 0); }
    void setRefreshPeriod(unsigned milliseconds) override {
        setTimer(g_app.refreshTimer, milliseconds);
    }
    void openConsole() override {
        if (g_app.backend) {
            shell::openConsole(*g_app.backend);
        }
    }
    bool connectReport(int port) override {
        closeReport();
        WSADATA data;
        if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            return false;
        }
        winsockStarted_ = true;
        socket_.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (!socket_) {
            return false;
        }
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = ::htons(static_cast<u_short>(port));
        to.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        return ::connect(socket_.get(), reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0;
    }
    void sendReport(const char* text, std::size_t length) override {
        ::send(socket_.get(), text, static_cast<int>(length), 0);
    }
    void closeReport() override {
        socket_.reset();
        if (winsockStarted_) {
            ::WSACleanup();
            winsockStarted_ = false;
        }
    }

private:
    unique_socket socket_;
    bool winsockStarted_ = false;
};

void createTrayIcon() {
    g_app.tray.create(g_app.instance, g_app.mainWindow, WM_TRAYICON, kProgramName,
                      iconForSlot(kSlotStopped), IDC_VELMORA, 0);
}

void showError(HWND owner, const char* text) {
    ::MessageBoxA(owner, text, "Error", MB_OK | MB_ICONERROR);
}

void onPollTimer() {
    vm::Cvmx* backend = g_app.backend.get();
    refreshStatus(1, 0);
    setTimer(g_app.pollTimer, kPollPeriodMs);
    if (backend == nullptr) {
        return;
    }
    OptionTable& options = g_app.options;
    if (options.present(kOptStart)) {
        backend->start(0);
        refreshStatus(0, 0);
        // With autostart the start is retried at every tick until the VM runs; without, once.
        if (backend->pollState(0, 0) >= vm::kStarting || !isAutostartEnabled()) {
            options.clear(kOptStart);
        }
    }
    if (options.present(kOptStop)) {
        options.clear(kOptStop);
        backend->stop();
        refreshStatus(0, 0);
    }
}

LRESULT onCommand(HWND hwnd, WPARAM wParam, LPARAM lParam) {
    vm::Cvmx* backend = g_app.backend.get();
    OptionTable& options = g_app.options;
    switch (LOWORD(wParam)) {
    case ID_ABOUT:
        showAboutDialog(g_app.instance, hwnd);
        return 0;
    case ID_EXIT:
        // With autostart, or chosen with Shift held, the VM keeps running.
        if (lParam == 0 && backend != nullptr && !isAutostartEnabled()) {
            backend->stop();
        }
        ::DestroyWindow(hwnd);
        return 0;
    case ID_START:
        if (backend != nullptr) {
            backend->start(static_cast<int>(lParam));
            refreshStatus(0, 0);
        }
        return 0;
    case ID_STOP:
        if (backend != nullptr) {
            backend->stop();
            refreshStatus(0, 0);
        }
        return 0;
    case ID_BROWSE:
        if (backend != nullptr && backend->pollState(0, 0) == vm::kRunning) {
            options.clear(kOptBrowse);
            openConsole(*backend);
        } else {
            options.set(kOptBrowse);
        }
        return 0;
    case ID_STATUS:
        if (backend != nullptr) {
            ::MessageBoxA(hwnd, buildStatusReport(), "Status", MB_OK | MB_ICONINFORMATION);
        }
        return 0;
    case ID_OPTIONS:
        showOptionsDialog(g_app.instance, hwnd);
        return 0;
    case ID_NETCONFIG:
        if (backend != nullptr) {
            runNetworkEditor(*backend);
        }
        return 0;
    case ID_XSTATUS:
        options.set(kOptXstatus, static_cast<std::int32_t>(lParam));
        if (backend != nullptr && backend->pollState(0, 0) == vm::kRunning) {
            sendStatusReport(static_cast<int>(lParam));
        }
        return 0;
    default:
        return ::DefWindowProcA(hwnd, WM_COMMAND, wParam, lParam);
    }
}

} // namespace

ShellApp& shellApp() {
    return g_app;
}

void setBackendChooser(BackendChooser chooser) {
    g_chooser = chooser;
}

bool registerMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = ::LoadIconA(instance, MAKEINTRESOURCEA(IDI_VELMORA));
    wc.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDC_VELMORA);
    wc.lpszClassName = g_app.className;
    return ::RegisterClassExA(&wc) != 0;
}

HICON iconForSlot(int slot) {
    if (slot < 0 || slot >= kIconSlotCount) {
        slot = kSlotStopped;
    }
    if (g_app.icons[slot] == nullptr) {
        g_app.icons[slot] = static_cast<HICON>(::LoadImageA(
            g_app.instance, MAKEINTRESOURCEA(iconResourceForSlot(slot)), IMAGE_ICON,
            ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    }
    return g_app.icons[slot];
}

int runNetworkEditor(vm::Cvmx& backend) {
    if (backend.networkEditorCommand.empty()) {
        return ERROR_FILE_NOT_FOUND;
    }
    return static_cast<int>(runCommand(0, 0, "%s", backend.networkEditorCommand.c_str()));
}

int startUp(HINSTANCE instance) {
    g_app.instance = instance;
    g_app.mainWindow = ::CreateWindowExA(0, g_app.className, kProgramName, WS_OVERLAPPEDWINDOW,
                                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                         nullptr, nullptr, instance, nullptr);
    if (g_app.mainWindow == nullptr) {
        return static_cast<int>(::GetLastError());
    }

    vm::BackendChoice choice = g_chooser != nullptr ? g_chooser(g_app.vmxPath.c_str())
                                                    : vm::chooseBackend(g_app.vmxPath.c_str());
    if (!choice.backend) {
        const int code = choice.result != 0 ? choice.result : ERROR_NOT_FOUND;
        if (code == vm::kErrorNotInstalled) {
            showError(g_app.mainWindow, "VMware is not installed on this machine.");
        } else if (code != vm::kErrorNotActive) {
            showError(g_app.mainWindow, errorText(static_cast<std::uint32_t>(code)).c_str());
        }
        return code;
    }
    g_app.backend = std::move(choice.backend);
    // Commands started from here may use %comport% and %comportno%.
    setComPortNumberSource(
        [](void* context) {
            return static_cast<vm::Cvmx*>(context)->serial.GetVirtualPortNumber();
        },
        g_app.backend.get());

    ::SetWindowTextA(g_app.mainWindow, g_app.vmxPath.c_str());
    createTrayIcon();
    g_app.taskbarCreatedMessage = ::RegisterWindowMessageA("TaskbarCreated");
    setTimer(g_app.pollTimer, kPollFirstMs);
    g_app.backend->setMainWindow(g_app.mainWindow);
    return 0;
}

void shutDownShell() {
    g_app.tray.destroy();
    if (g_app.mainWindow != nullptr) {
        ::DestroyWindow(g_app.mainWindow);
        g_app.mainWindow = nullptr;
    }
    setComPortNumberSource(nullptr, nullptr);
    g_app.backend.reset();
}

void refreshStatus(int checkVm, int queryAppliance) {
    if (!g_app.backend) {
        return;
    }
    TrayDisplay display;
    shell::refreshStatus(*g_app.backend, g_app.options, display, checkVm, queryAppliance);
}

const char* buildStatusReport() {
    return g_app.backend ? shell::buildStatusReport(*g_app.backend) : "";
}

void sendStatusReport(int port) {
    if (!g_app.backend) {
        return;
    }
    TrayDisplay display;
    shell::sendStatusReport(*g_app.backend, g_app.options, display, port);
}

LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hwnd != g_app.mainWindow || g_app.mainWindow == nullptr) {
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    if (msg == 0) {
        return 0;
    }
    if (g_app.taskbarCreatedMessage != 0 && msg == g_app.taskbarCreatedMessage) {
        // The notification area was re-created (Explorer restarted): a fresh icon, then the
        // current state's icon, tooltip and menu.
        g_app.tray.destroy();
        createTrayIcon();
        refreshStatus(0, 0);
        return 0;
    }
    switch (msg) {
    case WM_TIMER:
        if (wParam == g_app.pollTimer.id()) {
            onPollTimer();
        } else if (wParam == g_app.refreshTimer.id()) {
            refreshStatus(0, 1);
        }
        return 0;
    case WM_APPLIANCE:
        refreshStatus(1, 1);
        return 0;
    case WM_TRAYICON:
        return g_app.tray.handleNotification(wParam, lParam);
    case WM_DESTROY:
        setTimer(g_app.pollTimer, 0);
        setTimer(g_app.refreshTimer, 0);
        g_app.mainWindow = nullptr;
        ::PostQuitMessage(0);
        return 0;
    case WM_COMMAND:
        return onCommand(hwnd, wParam, lParam);
    default:
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

} // namespace velmora::shell
