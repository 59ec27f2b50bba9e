// A generic stand-in for an outside program. It logs its command line and then behaves as its
// scenario says: print text, create a window, hold a file open, sleep, stay alive, exit with a
// code. Built twice: standin.exe (console) and standin-gui.exe (GUI subsystem, for callers that
// use WaitForInputIdle). See README.md for the scenario keys.
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using Settings = std::map<std::string, std::string>;

std::string modulePath() {
    char path[MAX_PATH * 4];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n < sizeof path ? n : 0);
}

std::string withoutExtension(const std::string& path) {
    const auto dot = path.find_last_of('.');
    const auto slash = path.find_last_of("\\/");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return path;
    }
    return path.substr(0, dot);
}

std::string trim(const std::string& s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) {
        ++b;
    }
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) {
        --e;
    }
    return s.substr(b, e - b);
}

// "<stem>.scenario": key=value lines; "[contains TEXT]" starts a section whose keys apply when the
// command line contains TEXT (the first matching section wins); '#' starts a comment line.
void readScenarioFile(const std::string& file, const std::string& commandLine, Settings* out) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (f == nullptr) {
        return;
    }
    Settings defaults;
    Settings matched;
    bool matchedOne = false;
    int section = 0; // 0 defaults, 1 the matching section, 2 a section that is skipped
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, f) != nullptr) {
        const std::string line = trim(buffer);
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            const std::string inner = line.substr(1, line.size() - 2);
            const std::string prefix = "contains ";
            const bool hit = inner.compare(0, prefix.size(), prefix) == 0 &&
                             commandLine.find(inner.substr(prefix.size())) != std::string::npos;
            section = (hit && !matchedOne) ? 1 : 2;
            matchedOne = matchedOne || hit;
            continue;
        }
        const auto eq = line.find('=');
        if (eq == std::string::npos || section == 2) {
            continue;
        }
        (section == 0 ? defaults : matched)[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    std::fclose(f);
    for (auto& [k, v] : matched) {
        defaults[k] = v;
    }
    for (auto& [k, v] : defaults) {
        out->emplace(k, v);
    }
}

// VELMORA_STANDIN_<KEY> for every key the scenario file did not give.
void readEnvironment(Settings* out) {
    static const char* const keys[] = {
        "log",          "stdout",       "stderr", "exit",      "sleep",    "stay",
        "window_class", "window_title", "hold",   "touch",     "pid_file", "show",
        "show_file",    "ignore_close", "spawn",  "hold_text", "off_file", "watch_parent"};
    for (const char* key : keys) {
        std::string name = "VELMORA_STANDIN_";
        for (const char* p = key; *p != '\0'; ++p) {
            name += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
        }
        char value[4096];
        const DWORD n = ::GetEnvironmentVariableA(name.c_str(), value, sizeof value);
        if (n > 0 && n < sizeof value) {
            out->emplace(key, value);
        }
    }
}

std::string unescape(const std::string& s) {
    std::string r;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            const char c = s[++i];
            r += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            r += s[i];
        }
    }
    return r;
}

void appendLog(const std::string& path, const std::string& commandLine) {
    // Several stand-ins may log at once: one appending write per line.
    HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string line = commandLine + "\n";
    DWORD written = 0;
    ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(file);
}

// The text after the program name on a command line (the program may be quoted).
std::string argumentsOf(const std::string& commandLine) {
    std::size_t i = 0;
    bool quoted = false;
    for (; i < commandLine.size(); ++i) {
        if (commandLine[i] == '"') {
            quoted = !quoted;
        } else if (commandLine[i] == ' ' && !quoted) {
            break;
        }
    }
    while (i < commandLine.size() && commandLine[i] == ' ') {
        ++i;
    }
    return commandLine.substr(i);
}

// The folder of the last argument (quotes dropped), without its final separator; "." when the
// argument names no folder.
std::string lastArgumentFolder(const std::string& arguments) {
    std::string last;
    std::string current;
    bool quoted = false;
    for (char c : arguments + " ") {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ' ' && !quoted) {
            if (!current.empty()) {
                last = current;
            }
            current.clear();
        } else {
            current += c;
        }
    }
    const auto slash = last.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : last.substr(0, slash);
}

void replaceAll(std::string* text, const std::string& from, const std::string& to) {
    for (std::size_t at = text->find(from); at != std::string::npos;
         at = text->find(from, at + to.size())) {
        text->replace(at, from.size(), to);
    }
}

// {pid}, {dir} (the stand-in's folder), {args} (its arguments) and {argdir} (the folder of its
// last argument) in every value.
void substitute(Settings* settings, const std::string& commandLine, const std::string& stem) {
    const std::string arguments = argumentsOf(commandLine);
    const auto slash = stem.find_last_of("\\/");
    const std::string dir = slash == std::string::npos ? std::string(".") : stem.substr(0, slash);
    const std::string pid = std::to_string(::GetCurrentProcessId());
    const std::string argdir = lastArgumentFolder(arguments);
    for (auto& [key, value] : *settings) {
        replaceAll(&value, "{pid}", pid);
        replaceAll(&value, "{dir}", dir);
        replaceAll(&value, "{argdir}", argdir);
        replaceAll(&value, "{args}", arguments);
    }
}

// The parent process, opened to wait for its end; null when there is none to watch. A parent
// that is already gone gives INVALID_HANDLE_VALUE.
HANDLE openParent() {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    DWORD parent = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot, &entry); more;
         more = ::Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == ::GetCurrentProcessId()) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    ::CloseHandle(snapshot);
    if (parent == 0) {
        return nullptr; // started from outside Windows: nothing to watch
    }
    HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, parent);
    return process != nullptr ? process : INVALID_HANDLE_VALUE;
}

// Dispatches messages until WM_QUIT, or until `parent` (when given) ends.
void runMessageLoop(HANDLE parent) {
    for (;;) {
        if (parent != nullptr) {
            const DWORD r = ::MsgWaitForMultipleObjects(1, &parent, FALSE, INFINITE, QS_ALLINPUT);
            if (r == WAIT_OBJECT_0) {
                return;
            }
        } else {
            ::WaitMessage();
        }
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                return;
            }
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
}

bool ignoreClose = false;

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_CLOSE && ignoreClose) {
        return 0;
    }
    if (msg == WM_DESTROY) {
        ::PostQuitMessage(0);
        return 0;
    }
    return ::DefWindowProcA(hwnd, msg, wp, lp);
}

} // namespace

int main() {
    const char* raw = ::GetCommandLineA();
    const std::string commandLine = raw != nullptr ? raw : "";
    const std::string stem = withoutExtension(modulePath());
    Settings settings;
    readScenarioFile(stem + ".scenario", commandLine, &settings);
    readEnvironment(&settings);
    substitute(&settings, commandLine, stem);
    auto get = [&](const char* key) {
        auto it = settings.find(key);
        return it == settings.end() ? std::string() : it->second;
    };

    appendLog(get("log").empty() ? stem + ".log" : get("log"), commandLine);

    if (!get("pid_file").empty()) {
        char pid[32];
        std::snprintf(pid, sizeof pid, "%lu", static_cast<unsigned long>(::GetCurrentProcessId()));
        appendLog(get("pid_file"), pid);
    }
    if (!get("show_file").empty()) {
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        ::GetStartupInfoA(&startup);
        appendLog(get("show_file"), (startup.dwFlags & STARTF_USESHOWWINDOW) != 0
                                        ? "show=" + std::to_string(startup.wShowWindow)
                                        : std::string("show=default"));
    }
    if (!get("touch").empty()) {
        appendLog(get("touch"), "touched");
    }
    // While this stand-in lives the appliance simulator answers: its off_file is removed now and
    // created again on the way out.
    const std::string offFile = get("off_file");
    if (!offFile.empty()) {
        ::DeleteFileA(offFile.c_str());
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    if (!get("hold").empty()) {
        // Held without delete sharing, as a running VM holds its log. With hold_text the file is
        // new and starts with that text, as VMware's log starts with the VM's process id.
        const std::string text = unescape(get("hold_text"));
        held = ::CreateFileA(get("hold").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             text.empty() ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                             nullptr);
        if (held != INVALID_HANDLE_VALUE && !text.empty()) {
            DWORD written = 0;
            ::WriteFile(held, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        }
    }
    if (!get("stdout").empty()) {
        std::fputs(unescape(get("stdout")).c_str(), stdout);
        std::fflush(stdout);
    }
    if (!get("stderr").empty()) {
        std::fputs(unescape(get("stderr")).c_str(), stderr);
        std::fflush(stderr);
    }
    const int exitCode = get("exit").empty() ? 0 : std::atoi(get("exit").c_str());
    if (!get("sleep").empty()) {
        ::Sleep(static_cast<DWORD>(std::strtoul(get("sleep").c_str(), nullptr, 10)));
    }

    HANDLE parent = nullptr;
    if (get("watch_parent") == "1") {
        parent = openParent();
    }
    ignoreClose = get("ignore_close") == "1";
    bool loop = get("stay") == "1" || parent != nullptr;
    if (!get("window_class").empty()) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = windowProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = get("window_class").c_str();
        ::RegisterClassA(&wc);
        const std::string title = get("window_title");
        HWND hwnd = ::CreateWindowExA(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, CW_USEDEFAULT, 200, 100, nullptr, nullptr,
                                      wc.hInstance, nullptr);
        if (hwnd != nullptr && get("show") == "1") {
            // As the caller's start-up information says (e.g. minimised, not activated).
            ::ShowWindow(hwnd, SW_SHOWDEFAULT);
        }
        // Alive until the window is closed (WM_CLOSE) or the process is ended.
        loop = hwnd != nullptr && get("stay") != "0";
    }
    if (!get("spawn").empty()) {
        std::string child = get("spawn");
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION created{};
        if (::CreateProcessA(nullptr, child.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &created)) {
            ::CloseHandle(created.hThread);
            ::CloseHandle(created.hProcess);
        }
    }
    // A parent that is gone already ends the stand-in at once.
    if (loop && parent != INVALID_HANDLE_VALUE) {
        // A message loop also answers WaitForInputIdle (GUI build).
        runMessageLoop(parent);
    }
    if (parent != nullptr && parent != INVALID_HANDLE_VALUE) {
        ::CloseHandle(parent);
    }
    if (held != INVALID_HANDLE_VALUE) {
        ::CloseHandle(held);
    }
    if (!offFile.empty()) {
        appendLog(offFile, "off");
    }
    return exitCode;
}
