#include <windows.h>

#include <tlhelp32.h>

#include <cstring>
#include <string>

#include "common/unique_handle.h"
#include "protocol/transport.h"
#include "resource.h"
#include "shell/command_line.h"
#include "shell/service.h"
#include "shell/shell_app.h"
#include "vm/channel_link.h"

namespace velmora::shell {
namespace {

constexpr DWORD kPathSize = MAX_PATH; // 260

void vmxNotFound() {
    ::MessageBoxA(nullptr, "VMX file not found.", "Error", MB_OK | MB_ICONERROR);
}

// The program's folder becomes the current directory, so a relative VMX path (the default
// "Velmora.vmx" included) resolves beside the program.
void enterProgramFolder() {
    char self[kPathSize];
    const DWORD n = ::GetModuleFileNameA(nullptr, self, kPathSize);
    if (n > 0 && n < kPathSize) {
        if (char* slash = std::strrchr(self, '\\')) {
            *slash = '\0';
            ::SetCurrentDirectoryA(self);
        }
    }
}

// Full, then long form. 0, or the error: 206 when the full form does not fit the platform's path
// limit (refused rather than cut, which would name another file).
DWORD fullLongPath(const std::string& given, std::string* out) {
    char full[kPathSize];
    const DWORD n = ::GetFullPathNameA(given.c_str(), kPathSize, full, nullptr);
    if (n == 0) {
        const DWORD error = ::GetLastError();
        return error != 0 ? error : ERROR_INVALID_NAME;
    }
    if (n >= kPathSize) {
        return ERROR_FILENAME_EXCED_RANGE;
    }
    char longForm[kPathSize];
    const DWORD m = ::GetLongPathNameA(full, longForm, kPathSize);
    *out = (m > 0 && m < kPathSize) ? longForm : full;
    return 0;
}

DWORD checkReadable(const std::string& path) {
    unique_hfile file(::CreateFileA(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        return error != 0 ? error : ERROR_FILE_NOT_FOUND;
    }
    return 0;
}

// Letter case of the stored names; the current directory ends as the VMX file's folder.
void makeCanonical(std::string& path) {
    canonicalPathCase(
        path,
        [](const std::string& prefix, std::string* stored) {
            WIN32_FIND_DATAA data;
            unique_hfind find(::FindFirstFileA(prefix.c_str(), &data));
            if (!find) {
                return false;
            }
            *stored = data.cFileName;
            return true;
        },
        [](const std::string& folder) { ::SetCurrentDirectoryA(folder.c_str()); });
    // A file in a drive's root has no folder component to enter.
    const std::size_t slash = path.rfind('\\');
    if (slash != std::string::npos) {
        ::SetCurrentDirectoryA(path.substr(0, slash + 1).c_str());
    }
}

// Hands the requests to the instance that runs this VMX file. 183, or 0 when a forwarded exit
// was carried out within 60 s.
int forwardToRunningInstance(const ShellApp& app) {
    const HWND other = ::FindWindowA(app.className, app.vmxPath.c_str());
    if (other == nullptr) {
        return ERROR_ALREADY_EXISTS;
    }
    const OptionTable& options = app.options;
    if (options.present(kOptStart)) {
        ::PostMessageA(other, WM_COMMAND, ID_START, 0);
    }
    if (options.present(kOptStop)) {
        ::PostMessageA(other, WM_COMMAND, ID_STOP, 0);
    }
    if (options.present(kOptBrowse)) {
        ::PostMessageA(other, WM_COMMAND, ID_BROWSE, 0);
    }
    if (options.present(kOptXstatus)) {
        ::PostMessageA(other, WM_COMMAND, ID_XSTATUS, options.rows[kOptXstatus].value);
    }
    if (options.present(kOptExit)) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(other, &pid);
        unique_handle process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
        ::PostMessageA(other, WM_COMMAND, ID_EXIT, 0);
        if (process &&
            ::WaitForSingleObject(process.get(), kForwardedExitWaitMs) == WAIT_OBJECT_0) {
            return 0;
        }
    }
    return ERROR_ALREADY_EXISTS;
}

// The program file of the process that owns a window: the module path when the module snapshot
// has it, else the executable name; empty when the process cannot be determined.
std::string programOfWindow(HWND window) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid == 0) {
        return {};
    }
    std::string exeName;
    {
        unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        if (!snapshot) {
            return {};
        }
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
             more = ::Process32Next(snapshot.get(), &entry)) {
            if (entry.th32ProcessID == pid) {
                exeName = entry.szExeFile;
                break;
            }
        }
    }
    if (exeName.empty()) {
        return {};
    }
    unique_hfile modules(::CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid));
    if (modules) {
        MODULEENTRY32 module{};
        module.dwSize = sizeof module;
        for (BOOL more = ::Module32First(modules.get(), &module); more;
             more = ::Module32Next(modules.get(), &module)) {
            if (::lstrcmpiA(module.szModule, exeName.c_str()) == 0) {
                return module.szExePath;
            }
        }
    }
    return exeName;
}

// 0 to go on (no other instance, or Ignore), 170 on Abort.
int checkConflictingInstance(const ShellApp& app) {
    for (;;) {
        const HWND other = ::FindWindowA(app.className, nullptr);
        if (other == nullptr) {
            return 0;
        }
        const std::string text = conflictMessage(programOfWindow(other));
        const int answer =
            ::MessageBoxA(nullptr, text.c_str(), "Conflicting application",
                          MB_ABORTRETRYIGNORE | MB_DEFBUTTON2 | MB_ICONWARNING | MB_SETFOREGROUND);
        if (answer == IDABORT) {
            return kExitAborted;
        }
        if (answer == IDIGNORE) {
            return 0;
        }
    }
}

int runMessageLoop(HINSTANCE instance) {
    const HACCEL accelerators = ::LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDC_VELMORA));
    MSG msg;
    for (;;) {
        const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            return static_cast<int>(msg.wParam);
        }
        if (got == -1) {
            return static_cast<int>(::GetLastError());
        }
        if (accelerators == nullptr || !::TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
}

// Releases what the run acquired, on every path.
class Teardown {
public:
    explicit Teardown(ShellApp& app) : app_(app) {}
    ~Teardown() {
        shutDownShell();
        mutex.reset();
        app_.vmxPath.clear();
        app_.vmxPath.shrink_to_fit();
    }
    unique_handle mutex;

private:
    ShellApp& app_;
};

} // namespace

int interactiveMain(HINSTANCE instance, const char* commandLine) {
    ShellApp& app = shellApp();
    app.instance = instance;
    Teardown teardown(app);

    enterProgramFolder();
    char className[kClassNameSize];
    if (::LoadStringA(instance, IDS_CLASS_NAME, className, sizeof className) > 0) {
        std::memcpy(app.className, className, sizeof className);
    }
    registerMainWindowClass(instance);

    OptionTable& options = app.options;
    const std::string given = parseCommandLine(commandLine, options);

    DWORD error = fullLongPath(given, &app.vmxPath);
    if (error == 0) {
        error = checkReadable(app.vmxPath);
    }
    if (error != 0) {
        vmxNotFound();
        return static_cast<int>(error);
    }
    makeCanonical(app.vmxPath);

    if (options.present(kOptInstall)) {
        installService(app.vmxPath.c_str());
    }
    if (options.present(kOptRemove)) {
        removeService();
    }

    const std::string mutexName = instanceMutexName(app.vmxPath);
    teardown.mutex.reset(::CreateMutexA(nullptr, FALSE, mutexName.c_str()));
    if (!teardown.mutex) {
        return static_cast<int>(::GetLastError());
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        teardown.mutex.reset();
        return forwardToRunningInstance(app);
    }
    if (options.present(kOptExit) ||
        (!options.present(kOptStart) &&
         (options.present(kOptInstall) || options.present(kOptRemove)))) {
        return 0; // the run was only for these
    }

    if (const int r = checkConflictingInstance(app); r != 0) {
        return r;
    }

    vm::setChannelTransportFactory(
        [] { return protocol::createWinsockTransport(protocol::kTargetUnknown); });
    if (const int r = startUp(instance); r != 0) {
        // 1062 (the VMware service is not ready) ends the run too: without a backend there is no
        // tray icon and no timer, so a message loop would only keep an invisible process alive.
        return r;
    }
    return runMessageLoop(instance);
}

int processEntry(HINSTANCE instance, const char* commandLine) {
    if (commandLine == nullptr || commandLine[0] == '\0') {
        if (runServiceDispatcher()) {
            return 0;
        }
        return interactiveMain(instance, "");
    }
    return interactiveMain(instance, commandLine);
}

} // namespace velmora::shell
