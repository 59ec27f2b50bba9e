// The program-wide state of the windowed program and the operations of its hidden main window:
// start-up with the backend choice, the window procedure with its commands and two timers,
// refreshStatus over the tray icon, and the interactive main.
#pragma once
#ifdef _WIN32
#include <windows.h>

#include <memory>
#include <string>

#include "shell/command_line.h"
#include "shell/interval_timer.h"
#include "shell/system_tray.h"
#include "vm/cvmx.h"

namespace velmora::shell {

inline constexpr std::size_t kClassNameSize = 100;
inline constexpr char kProgramName[] = "Velmora";
inline constexpr unsigned kPollFirstMs = 1000;
inline constexpr unsigned kPollPeriodMs = 10000;
inline constexpr DWORD kForwardedExitWaitMs = 60000;
inline constexpr int kExitAborted = 170; // the user chose Abort in "Conflicting application"

struct ShellApp {
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    // The one backend start-up kept (at most one exists).
    std::unique_ptr<vm::Cvmx> backend;
    std::string vmxPath;
    CSystemTray tray;
    UINT taskbarCreatedMessage = 0;
    IntervalTimer pollTimer;
    IntervalTimer refreshTimer;
    OptionTable& options = programOptions();
    char className[kClassNameSize] = "TARNTRAYICON";
    HICON icons[5] = {};
};
ShellApp& shellApp();

// How start-up chooses its backend. Null (the default) tries VirtualBox, Player, Workstation.
using BackendChooser = vm::BackendChoice (*)(const char* path);
void setBackendChooser(BackendChooser chooser);

// Registers the main window class named by app.className.
bool registerMainWindowClass(HINSTANCE instance);
// Creates the main window, chooses the backend, creates the tray icon, starts the poll timer and
// binds the appliance sockets to the window. 0, or the error (1060 after "VMware is not installed
// on this machine.", 1062 silently, others after the platform's text).
int startUp(HINSTANCE instance);
LRESULT CALLBACK mainWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

void refreshStatus(int checkVm, int queryAppliance);
const char* buildStatusReport();
void sendStatusReport(int port);
// The icon of a slot, loaded at tray size on first use and kept.
HICON iconForSlot(int slot);
// Starts VMware's network editor without waiting; 2 when the backend knows no editor.
int runNetworkEditor(vm::Cvmx& backend);

// Ends what start-up made: the tray icon, the backend, the main window if it still exists.
void shutDownShell();

// The interactive program: returns the process exit code.
int interactiveMain(HINSTANCE instance, const char* commandLine);
// The process entry: an empty command line goes to the service dispatcher first.
int processEntry(HINSTANCE instance, const char* commandLine);

} // namespace velmora::shell
#endif
