// The Player backend's Windows side: the licence check from VMware's preferences file and the
// Player's version resource, starting the Player and taking its window off the desktop, finding the
// VM and its Player through the log and a process snapshot, and ending both.
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "common/unique_handle.h"
#include "vm/cvmx_player.h"
#include "vm/player_rules.h"

namespace velmora::vm {

namespace {

// A Player that never shows its window blocks the search for about a minute at most.
constexpr int kHidePasses = 600;
constexpr DWORD kHidePassPauseMs = 100;
constexpr DWORD kInputIdleMs = 60000;
constexpr DWORD kPlayerCloseWaitMs = 5000;
constexpr DWORD kVmEndWaitMs = 1000;
constexpr DWORD kAfterTerminateWaitMs = 1000;

HANDLE asHandle(ProcessHandle p) {
    return static_cast<HANDLE>(p);
}

void closeIfOpen(ProcessHandle* p) {
    if (*p != nullptr) {
        ::CloseHandle(asHandle(*p));
        *p = nullptr;
    }
}

bool stillRunning(ProcessHandle p) {
    // An ended process is signalled; its exit code may be anything, 259 included.
    return p != nullptr && ::WaitForSingleObject(asHandle(p), 0) == WAIT_TIMEOUT;
}

// Waits for the process to end; terminates it (exit code 0) when it does not.
void waitOrTerminate(ProcessHandle p, DWORD waitMs) {
    if (::WaitForSingleObject(asHandle(p), waitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(asHandle(p), 0);
        ::WaitForSingleObject(asHandle(p), kAfterTerminateWaitMs);
    }
}

void enableDebugPrivilege() {
    unique_handle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) {
        return;
    }
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    if (!::LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &privileges.Privileges[0].Luid)) {
        return;
    }
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof privileges, nullptr, nullptr);
}

// All access, else synchronize only (enough to wait for it).
HANDLE openProcess(DWORD pid, bool tryDebugPrivilege) {
    HANDLE process = ::OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (process == nullptr && tryDebugPrivilege) {
        enableDebugPrivilege();
        process = ::OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    }
    if (process == nullptr) {
        process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    }
    return process;
}

bool findProcessEntry(HANDLE snapshot, DWORD pid, PROCESSENTRY32* entry) {
    entry->dwSize = sizeof *entry;
    for (BOOL more = ::Process32First(snapshot, entry); more;
         more = ::Process32Next(snapshot, entry)) {
        if (entry->th32ProcessID == pid) {
            return true;
        }
    }
    return false;
}

// buildText and versionText from the program's version resource; both stay empty when it
// cannot be read.
void readLicenceTexts(const std::string& program, std::string* buildText,
                      std::string* versionText) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(program.c_str(), &ignored);
    if (size == 0) {
        return;
    }
    std::vector<char> data(size);
    if (!::GetFileVersionInfoA(program.c_str(), 0, size, data.data())) {
        return;
    }
    void* value = nullptr;
    UINT length = 0;
    if (::VerQueryValueA(data.data(), "\\", &value, &length) && value != nullptr &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
        *buildText = eulaBuildText(static_cast<const VS_FIXEDFILEINFO*>(value)->dwProductVersionLS);
    }
    struct Translation {
        WORD language;
        WORD codePage;
    };
    static_assert(sizeof(Translation) == 4, "the translation table holds pairs of WORDs");
    if (!::VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) ||
        value == nullptr) {
        return;
    }
    const auto* translations = static_cast<const Translation*>(value);
    for (UINT i = 0; i < length / sizeof(Translation); ++i) {
        char key[64];
        std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\ProductVersion",
                      translations[i].language, translations[i].codePage);
        void* text = nullptr;
        UINT textLength = 0;
        if (::VerQueryValueA(data.data(), key, &text, &textLength) && text != nullptr &&
            textLength > 0 && static_cast<const char*>(text)[0] != '\0') {
            *versionText = eulaVersionText(static_cast<const char*>(text), textLength);
            return;
        }
    }
}

struct WindowSearch {
    DWORD processId;
    const char* title; // hide: the new title; close: unused
    bool done;
};

bool isPlayerFrame(HWND window) {
    char windowClass[32]; // up to 31 characters
    return ::GetClassNameA(window, windowClass, sizeof windowClass) > 0 &&
           std::strcmp(windowClass, kPlayerWindowClass) == 0;
}

DWORD windowProcessId(HWND window) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    return pid;
}

// Moves the Player's visible frame under the message-only parent (off the desktop and the task
// bar) and gives it the VMX path as title, by which stop finds it again.
BOOL CALLBACK hidePlayerFrame(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    if (windowProcessId(window) != search->processId || !::IsWindowVisible(window) ||
        !isPlayerFrame(window)) {
        return TRUE;
    }
    ::SetParent(window, HWND_MESSAGE);
    ::SetWindowTextA(window, search->title);
    search->done = true;
    return FALSE;
}

BOOL CALLBACK closePlayerFrame(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    if (windowProcessId(window) != search->processId || !isPlayerFrame(window)) {
        return TRUE;
    }
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    search->done = true;
    return FALSE;
}

} // namespace

bool CvmxPlayer::licenceAccepted() const {
    char appData[MAX_PATH];
    const DWORD n = ::GetEnvironmentVariableA("APPDATA", appData, sizeof appData);
    if (n == 0 || n >= sizeof appData) {
        return false;
    }
    char preferences[MAX_PATH + 32];
    std::snprintf(preferences, sizeof preferences, "%s\\VMware\\preferences.ini", appData);
    std::string buildText;
    std::string versionText;
    readLicenceTexts(commandProgramPath(launchCommand.c_str()), &buildText, &versionText);
    return preferencesAcceptEula(preferences, buildText, versionText);
}

int CvmxPlayer::launchPlayer(bool minimised, bool hideWindow) {
    // The Player runs with this program's administrator token: its process and thread keep the
    // token's default access list (the user, administrators, the system), so that no other user
    // can open them and run code with those rights. Later runs of the program open it as
    // administrators.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (minimised) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWMINNOACTIVE;
    }
    std::vector<char> commandLine(launchCommand.begin(), launchCommand.end());
    commandLine.push_back('\0');
    PROCESS_INFORMATION created{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &created)) {
        return kErrorNotStopped;
    }
    closeIfOpen(&playerProcess.process);
    closeIfOpen(&playerProcess.thread);
    playerProcess = {created.hProcess, created.hThread, created.dwProcessId, created.dwThreadId};

    if (::WaitForInputIdle(created.hProcess, kInputIdleMs) != 0) {
        return kErrorNotStopped; // the Player keeps running; pollState finds it
    }
    if (hideWindow) {
        WindowSearch search{created.dwProcessId, vmxPath.c_str(), false};
        for (int pass = 0; pass < kHidePasses; ++pass) {
            ::EnumWindows(hidePlayerFrame, reinterpret_cast<LPARAM>(&search));
            if (search.done) {
                break;
            }
            ::Sleep(kHidePassPauseMs);
        }
    }
    return 0;
}

bool CvmxPlayer::processesStillActive() const {
    return stillRunning(playerProcess.process) || stillRunning(vmProcess);
}

void CvmxPlayer::endPlayerAndVm() {
    if (HWND frame = ::FindWindowExA(HWND_MESSAGE, nullptr, kPlayerWindowClass, vmxPath.c_str())) {
        ::PostMessageA(frame, WM_CLOSE, 0, 0);
    } else if (playerProcess.process != nullptr) {
        WindowSearch search{playerProcess.processId, nullptr, false};
        ::EnumWindows(closePlayerFrame, reinterpret_cast<LPARAM>(&search));
    }
    if (playerProcess.process != nullptr) {
        waitOrTerminate(playerProcess.process, kPlayerCloseWaitMs);
    }
    if (vmProcess != nullptr) {
        waitOrTerminate(vmProcess, kVmEndWaitMs);
    }
}

void CvmxPlayer::closeProcessHandles() {
    closeIfOpen(&playerProcess.process);
    closeIfOpen(&playerProcess.thread);
    closeIfOpen(&vmProcess);
}

bool CvmxPlayer::findVmProcess() {
    closeIfOpen(&vmProcess);
    if (!vmLogReleased()) {
        if (std::FILE* log = std::fopen(logPath.c_str(), "r")) {
            char line[kPlayerLineBuffer];
            const std::uint32_t pid =
                std::fgets(line, sizeof line, log) != nullptr ? vmPidFromLogLine(line) : 0;
            std::fclose(log);
            if (pid != 0) {
                vmProcessId = pid;
                vmProcess = openProcess(pid, true);
            }
        }
        if (vmProcess != nullptr && playerProcess.process == nullptr) {
            // A VM this run did not start: its Player is the parent, if that is vmplayer.exe.
            playerProcess.processId = 0;
            unique_hfile snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
            PROCESSENTRY32 entry;
            if (snapshot && findProcessEntry(snapshot.get(), vmProcessId, &entry)) {
                playerProcess.processId = entry.th32ParentProcessID;
                if (playerProcess.processId != 0 &&
                    findProcessEntry(snapshot.get(), playerProcess.processId, &entry) &&
                    isPlayerExecutable(entry.szExeFile)) {
                    playerProcess.process = openProcess(playerProcess.processId, false);
                }
            }
        }
    }
    return playerProcess.process != nullptr || vmProcess != nullptr;
}

} // namespace velmora::vm
