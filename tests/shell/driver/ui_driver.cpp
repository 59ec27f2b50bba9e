// ui-driver: drives Windows user interface from end-to-end scripts under Wine, where no desktop
// automation tool exists. Every wait is bounded, so a script never hangs on a dialog.
//
//   ui-driver run TIMEOUT_MS EXE [TAIL]      start EXE with the raw command-line tail, wait, print
//                                            "exit=<code>" (full 32 bits); "exit=timeout" after
//                                            ending it when it outlives the timeout (exit 3)
//   ui-driver dialog CAPTION TIMEOUT_MS ID   wait for a visible dialog (class #32770) with that
//                                            caption, print "text=<line>" for each static text
//                                            and "button=<id> <text>", then press button ID
//                                            (0: press nothing); exit 2 when none appeared
//   ui-driver nodialog CAPTION MS            exit 1 if such a dialog appears within MS
//   ui-driver window CLASS TITLE TIMEOUT_MS  wait for a top-level window ("-" = any title); print
//                                            "hwnd=<h> pid=<pid> title=<title>"; exit 2 if none
//   ui-driver gone CLASS TITLE TIMEOUT_MS    wait until no such window exists; exit 2 otherwise
//   ui-driver post CLASS TITLE MSG WPARAM LPARAM   post a message to that window
//   ui-driver menu TIMEOUT_MS KEY...         wait for a visible popup menu (#32768) and send it
//                                            keys: up, down, return, escape
//   ui-driver tray-windows                   list top-level windows of the notification area
//   ui-driver click X Y right|left|double|hover
//                                            a real mouse click at screen position X, Y (hover:
//                                            the pointer only rests there, so a tooltip shows)
//   ui-driver tray-click N right|left|double|hover|where
//                                            the same on the Nth icon (from 0) of Wine's
//                                            notification-area window; where: print its cell as
//                                            "cell X Y SIZE" (screen coordinates)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Found {
    const char* className;
    const char* title; // null: any
    bool visibleOnly;
    HWND hwnd;
};

BOOL CALLBACK findTopLevel(HWND hwnd, LPARAM param) {
    auto* f = reinterpret_cast<Found*>(param);
    char cls[256];
    char title[1024];
    ::GetClassNameA(hwnd, cls, sizeof cls);
    if (std::strcmp(cls, f->className) != 0) {
        return TRUE;
    }
    if (f->visibleOnly && !::IsWindowVisible(hwnd)) {
        return TRUE;
    }
    if (f->title != nullptr) {
        ::GetWindowTextA(hwnd, title, sizeof title);
        if (std::strcmp(title, f->title) != 0) {
            return TRUE;
        }
    }
    f->hwnd = hwnd;
    return FALSE;
}

HWND findWindow(const char* cls, const char* title, bool visibleOnly) {
    Found f{cls, title, visibleOnly, nullptr};
    ::EnumWindows(findTopLevel, reinterpret_cast<LPARAM>(&f));
    return f.hwnd;
}

HWND waitWindow(const char* cls, const char* title, bool visibleOnly, DWORD timeoutMs) {
    const ULONGLONG end = ::GetTickCount64() + timeoutMs;
    do {
        if (HWND h = findWindow(cls, title, visibleOnly)) {
            return h;
        }
        ::Sleep(50);
    } while (::GetTickCount64() < end);
    return nullptr;
}

std::string windowText(HWND hwnd) {
    char text[4096] = "";
    ::SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                          SMTO_ABORTIFHUNG, 2000, nullptr);
    return text;
}

// Prints a text as lines of "text=..." (multi-line static texts become several lines).
void printText(const std::string& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::printf("text=%s\n", line.c_str());
        start = end + 1;
    }
}

BOOL CALLBACK printChild(HWND hwnd, LPARAM) {
    char cls[64];
    ::GetClassNameA(hwnd, cls, sizeof cls);
    const int id = ::GetDlgCtrlID(hwnd);
    const std::string text = windowText(hwnd);
    if (lstrcmpiA(cls, "Static") == 0 && !text.empty()) {
        printText(text);
    } else if (lstrcmpiA(cls, "Button") == 0) {
        std::printf("button=%d %s\n", id, text.c_str());
    }
    return TRUE;
}

const char* titleArg(const char* arg) {
    return std::strcmp(arg, "-") == 0 ? nullptr : arg;
}

int run(int argc, char** argv) {
    if (argc < 4) {
        return 64;
    }
    const DWORD timeout = std::strtoul(argv[2], nullptr, 10);
    std::string line = std::string("\"") + argv[3] + "\"";
    if (argc > 4) {
        line += " ";
        line += argv[4];
    }
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    if (!::CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi)) {
        std::printf("exit=nostart %lu\n", ::GetLastError());
        return 4;
    }
    ::CloseHandle(pi.hThread);
    std::printf("pid=%lu\n", pi.dwProcessId);
    std::fflush(stdout);
    if (::WaitForSingleObject(pi.hProcess, timeout) != WAIT_OBJECT_0) {
        ::TerminateProcess(pi.hProcess, 1);
        ::CloseHandle(pi.hProcess);
        std::printf("exit=timeout\n");
        return 3;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    std::printf("exit=%lu\n", code);
    return 0;
}

int dialog(int argc, char** argv) {
    if (argc < 5) {
        return 64;
    }
    const HWND box = waitWindow("#32770", argv[2], true, std::strtoul(argv[3], nullptr, 10));
    if (box == nullptr) {
        std::printf("no dialog \"%s\"\n", argv[2]);
        return 2;
    }
    ::Sleep(200); // let it finish drawing (for screenshots) and settle its controls
    DWORD pid = 0;
    ::GetWindowThreadProcessId(box, &pid);
    std::printf("dialog pid=%lu\n", pid);
    ::EnumChildWindows(box, printChild, 0);
    std::fflush(stdout);
    const int id = std::atoi(argv[4]);
    if (id != 0) {
        HWND button = ::GetDlgItem(box, id);
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(button));
    }
    return 0;
}

int postMessage(int argc, char** argv) {
    if (argc < 7) {
        return 64;
    }
    const HWND h = findWindow(argv[2], titleArg(argv[3]), false);
    if (h == nullptr) {
        std::printf("no window\n");
        return 2;
    }
    return ::PostMessageA(h, std::strtoul(argv[4], nullptr, 0), std::strtoul(argv[5], nullptr, 0),
                          std::strtol(argv[6], nullptr, 0))
               ? 0
               : 1;
}

WPARAM keyOf(const char* name) {
    if (std::strcmp(name, "up") == 0) {
        return VK_UP;
    }
    if (std::strcmp(name, "down") == 0) {
        return VK_DOWN;
    }
    if (std::strcmp(name, "return") == 0) {
        return VK_RETURN;
    }
    return VK_ESCAPE;
}

int menu(int argc, char** argv) {
    if (argc < 3) {
        return 64;
    }
    const HWND m = waitWindow("#32768", nullptr, true, std::strtoul(argv[2], nullptr, 10));
    if (m == nullptr) {
        std::printf("no menu\n");
        return 2;
    }
    ::Sleep(300);
    for (int i = 3; i < argc; ++i) {
        ::PostMessageA(m, WM_KEYDOWN, keyOf(argv[i]), 0);
        ::Sleep(100);
    }
    return 0;
}

BOOL CALLBACK printTray(HWND hwnd, LPARAM) {
    char cls[256];
    ::GetClassNameA(hwnd, cls, sizeof cls);
    RECT r{};
    ::GetWindowRect(hwnd, &r);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    std::printf("window class=%s visible=%d rect=%ld,%ld,%ld,%ld pid=%lu title=%s\n", cls,
                ::IsWindowVisible(hwnd) ? 1 : 0, r.left, r.top, r.right, r.bottom, pid,
                windowText(hwnd).c_str());
    return TRUE;
}

int click(int argc, char** argv) {
    if (argc < 5) {
        return 64;
    }
    const int x = std::atoi(argv[2]);
    const int y = std::atoi(argv[3]);
    ::SetCursorPos(x, y);
    ::Sleep(100);
    if (std::strcmp(argv[4], "hover") == 0) {
        return 0; // the pointer rests there, so that a tooltip can show
    }
    const bool right = std::strcmp(argv[4], "right") == 0;
    const int clicks = std::strcmp(argv[4], "double") == 0 ? 2 : 1;
    for (int i = 0; i < clicks; ++i) {
        INPUT in[2]{};
        in[0].type = in[1].type = INPUT_MOUSE;
        in[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
        in[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
        ::SendInput(2, in, sizeof(INPUT));
        ::Sleep(60);
    }
    return 0;
}

// Wine without a desktop tray shows the notification area as a small window of its own; its
// icons sit in a row of cells of the small-icon size plus a 2-pixel border on each side.
int trayClick(int argc, char** argv) {
    if (argc < 4) {
        return 64;
    }
    HWND tray = findWindow("__winex11_standalone_tray", nullptr, true);
    if (tray == nullptr) {
        std::printf("no notification-area window\n");
        return 2;
    }
    const int cell = ::GetSystemMetrics(SM_CXSMICON) + 4;
    POINT p{cell * std::atoi(argv[2]) + cell / 2, cell / 2};
    ::ClientToScreen(tray, &p);
    if (std::strcmp(argv[3], "where") == 0) {
        std::printf("cell %ld %ld %d\n", static_cast<long>(p.x - cell / 2),
                    static_cast<long>(p.y - cell / 2), cell);
        return 0;
    }
    std::printf("click %d,%d\n", static_cast<int>(p.x), static_cast<int>(p.y));
    char x[16], y[16];
    std::snprintf(x, sizeof x, "%ld", static_cast<long>(p.x));
    std::snprintf(y, sizeof y, "%ld", static_cast<long>(p.y));
    char* args[] = {argv[0], argv[1], x, y, argv[3]};
    return click(5, args);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 64;
    }
    const std::string cmd = argv[1];
    if (cmd == "run") {
        return run(argc, argv);
    }
    if (cmd == "dialog") {
        return dialog(argc, argv);
    }
    if (cmd == "nodialog") {
        if (argc < 4) {
            return 64;
        }
        return waitWindow("#32770", argv[2], true, std::strtoul(argv[3], nullptr, 10)) != nullptr
                   ? 1
                   : 0;
    }
    if (cmd == "window" && argc >= 5) {
        const HWND h =
            waitWindow(argv[2], titleArg(argv[3]), false, std::strtoul(argv[4], nullptr, 10));
        if (h == nullptr) {
            return 2;
        }
        DWORD pid = 0;
        ::GetWindowThreadProcessId(h, &pid);
        std::printf("hwnd=%p pid=%lu title=%s\n", static_cast<void*>(h), pid,
                    windowText(h).c_str());
        return 0;
    }
    if (cmd == "gone" && argc >= 5) {
        const ULONGLONG end = ::GetTickCount64() + std::strtoul(argv[4], nullptr, 10);
        do {
            if (findWindow(argv[2], titleArg(argv[3]), false) == nullptr) {
                return 0;
            }
            ::Sleep(50);
        } while (::GetTickCount64() < end);
        return 2;
    }
    if (cmd == "post") {
        return postMessage(argc, argv);
    }
    if (cmd == "menu") {
        return menu(argc, argv);
    }
    if (cmd == "tray-windows") {
        ::EnumWindows(printTray, 0);
        return 0;
    }
    if (cmd == "tray-click") {
        return trayClick(argc, argv);
    }
    if (cmd == "click") {
        return click(argc, argv);
    }
    return 64;
}
