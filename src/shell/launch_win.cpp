// Starting programs: as this program, as the desktop user, with captured output, and the URL
// opener that picks the user's browser from the registry.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "common/unique_handle.h"
#include "shell/launch.h"
#include "shell/platform_version_win.h"

namespace velmora::shell {
namespace {

ComPortNumberSource g_comPortSource = nullptr;
void* g_comPortContext = nullptr;
DesktopTokenSource g_desktopTokenSource = nullptr;

int currentComPortNumber() {
    return g_comPortSource != nullptr ? g_comPortSource(g_comPortContext) : 0;
}

// Exports the variables and expands the command line. False (with the reason in `error`) when
// the expanded text does not fit: a cut command line would start something else.
bool expandCommand(const char* text, char (&line)[kCommandBufferSize], uint32_t* error) {
    exportComPortVariables(currentComPortNumber());
    const DWORD n = ::ExpandEnvironmentStringsA(text, line, sizeof line);
    if (n == 0) {
        *error = ::GetLastError();
        return false;
    }
    if (n > sizeof line) {
        *error = kErrorInsufficientBuffer;
        return false;
    }
    return true;
}

// Waits as the caller asked and gives the result of a started process.
uint32_t waitForResult(HANDLE process, uint32_t waitMs) {
    if (waitMs == 0) {
        return 0;
    }
    if (::WaitForSingleObject(process, waitMs) == WAIT_FAILED) {
        return ::GetLastError();
    }
    DWORD code = 0;
    if (!::GetExitCodeProcess(process, &code)) {
        return ::GetLastError();
    }
    return code; // STILL_ACTIVE (259) after a timeout
}

uint32_t startFormatted(uint32_t waitMs, uint32_t creationFlags, const char* text) {
    char line[kCommandBufferSize];
    uint32_t error = 0;
    if (!expandCommand(text, line, &error)) {
        return error;
    }
    // The child runs with this program's administrator token, and some commands come from the
    // appliance: its process and thread keep the token's default access list (the user,
    // administrators, the system). A null list would let any process of any user open them and
    // run code with those rights.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr,
                          &startup, &info)) {
        return ::GetLastError();
    }
    unique_handle process(info.hProcess);
    unique_handle thread(info.hThread);
    thread.reset();
    return waitForResult(process.get(), waitMs);
}

struct EnvironmentBlock {
    wchar_t* block = ::GetEnvironmentStringsW();
    ~EnvironmentBlock() {
        if (block != nullptr) {
            ::FreeEnvironmentStringsW(block);
        }
    }
};

using CreateProcessWithTokenWFn = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID,
                                                LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);

// Starts the already formatted text as the desktop user; falls back to this program's token.
uint32_t startFormattedAsDesktopUser(uint32_t waitMs, uint32_t creationFlags, const char* text) {
    unique_hmodule advapi(::LoadLibraryA("advapi32.dll"));
    CreateProcessWithTokenWFn create = nullptr;
    if (advapi) {
        create = reinterpret_cast<CreateProcessWithTokenWFn>(
            reinterpret_cast<void*>(::GetProcAddress(advapi.get(), "CreateProcessWithTokenW")));
    }
    unique_handle token;
    if (create != nullptr) {
        token = g_desktopTokenSource != nullptr ? g_desktopTokenSource() : desktopUserToken();
    }
    if (create == nullptr || !token) {
        return startFormatted(waitMs, creationFlags, text);
    }
    char line[kCommandBufferSize];
    uint32_t error = 0;
    if (!expandCommand(text, line, &error)) {
        return error;
    }
    wchar_t wide[kCommandBufferSize];
    if (::MultiByteToWideChar(CP_ACP, 0, line, -1, wide, kCommandBufferSize) == 0) {
        return ::GetLastError();
    }
    wchar_t directory[MAX_PATH + 1];
    const DWORD dirLength = ::GetCurrentDirectoryW(MAX_PATH + 1, directory);
    const wchar_t* currentDirectory =
        (dirLength > 0 && dirLength <= MAX_PATH) ? directory : nullptr;
    // Without an explicit block the child would get the user profile's environment, not ours
    // (and not the exported COM port variables).
    EnvironmentBlock environment;
    DWORD flags = creationFlags & ~static_cast<DWORD>(DETACHED_PROCESS);
    if (environment.block != nullptr) {
        flags |= CREATE_UNICODE_ENVIRONMENT;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!create(token.get(), 0, nullptr, wide, flags, environment.block, currentDirectory, &startup,
                &info)) {
        return ::GetLastError();
    }
    unique_handle process(info.hProcess);
    unique_handle thread(info.hThread);
    thread.reset();
    token.reset();
    return waitForResult(process.get(), waitMs);
}

// Deletes the capture file when the operation ends, whatever path it takes.
struct TempFileGuard {
    const char* name;
    ~TempFileGuard() { ::DeleteFileA(name); }
};

// Reads a REG_SZ/REG_EXPAND_SZ value of at most `size` - 1 bytes; the stored text need not carry
// its terminator. False when absent, of another type or too long.
bool readStringValue(HKEY root, const char* subKey, const char* valueName, char* out, DWORD size) {
    out[0] = '\0';
    unique_hkey key;
    if (::RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD bytes = size - 1;
    if (::RegQueryValueExA(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(out),
                           &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        out[0] = '\0';
        return false;
    }
    out[bytes < size ? bytes : size - 1] = '\0';
    return true;
}

} // namespace

void exportComPortVariables(int portNumber) {
    char comport[16];
    char comportno[16];
    if (comPortVariableValues(portNumber, comport, comportno)) {
        ::SetEnvironmentVariableA("comport", comport);
        ::SetEnvironmentVariableA("comportno", comportno);
    }
}

void setComPortNumberSource(ComPortNumberSource source, void* context) {
    g_comPortSource = source;
    g_comPortContext = context;
}

void setDesktopTokenSource(DesktopTokenSource source) {
    g_desktopTokenSource = source;
}

unique_handle desktopUserToken() {
    unique_handle own;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, own.put())) {
        return {};
    }
    DWORD size = 0;
    ::GetTokenInformation(own.get(), TokenIntegrityLevel, nullptr, 0, &size);
    if (size == 0) {
        return {};
    }
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[size]);
    if (!buffer ||
        !::GetTokenInformation(own.get(), TokenIntegrityLevel, buffer.get(), size, &size)) {
        return {};
    }
    const auto* label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.get());
    const PUCHAR count = ::GetSidSubAuthorityCount(label->Label.Sid);
    if (count == nullptr || *count == 0) {
        return {};
    }
    const DWORD level = *::GetSidSubAuthority(label->Label.Sid, *count - 1);
    if (level <= SECURITY_MANDATORY_MEDIUM_RID) {
        return {};
    }
    const HWND shell = ::FindWindowA("PROGMAN", nullptr);
    if (shell == nullptr) {
        return {};
    }
    DWORD pid = 0;
    ::GetWindowThreadProcessId(shell, &pid);
    unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid));
    if (!process) {
        return {};
    }
    unique_handle shellToken;
    if (!::OpenProcessToken(process.get(), TOKEN_DUPLICATE, shellToken.put())) {
        return {};
    }
    unique_handle primary;
    if (!::DuplicateTokenEx(shellToken.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                            TokenPrimary, primary.put())) {
        return {};
    }
    return primary;
}

uint32_t runCommandV(uint32_t waitMs, uint32_t creationFlags, const char* format, va_list args) {
    char text[kCommandBufferSize];
    if (!formatCommand(text, format, args)) {
        return kErrorInsufficientBuffer;
    }
    return startFormatted(waitMs, creationFlags, text);
}

uint32_t runCommand(uint32_t waitMs, uint32_t creationFlags, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const uint32_t result = runCommandV(waitMs, creationFlags, format, args);
    va_end(args);
    return result;
}

uint32_t runCommandAsDesktopUserV(uint32_t waitMs, uint32_t creationFlags, const char* format,
                                  va_list args) {
    char text[kCommandBufferSize];
    if (!formatCommand(text, format, args)) {
        return kErrorInsufficientBuffer;
    }
    return startFormattedAsDesktopUser(waitMs, creationFlags, text);
}

uint32_t runCommandAsDesktopUser(uint32_t waitMs, uint32_t creationFlags, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const uint32_t result = runCommandAsDesktopUserV(waitMs, creationFlags, format, args);
    va_end(args);
    return result;
}

uint32_t runCommandCaptured(std::unique_ptr<char[]>* output, const char* format, ...) {
    output->reset();
    char text[kCommandBufferSize];
    va_list args;
    va_start(args, format);
    const bool fits = formatCommand(text, format, args);
    va_end(args);
    if (!fits) {
        return kErrorInsufficientBuffer;
    }
    char name[sizeof kCaptureFilePattern];
    std::memcpy(name, kCaptureFilePattern, sizeof name);
    if (::_mktemp_s(name, sizeof name) != 0) {
        return ERROR_FILE_EXISTS;
    }
    TempFileGuard guard{name};
    const uint32_t result =
        runCommand(kWaitForever, CREATE_NO_WINDOW, "cmd /c \"%s>%s\"", text, name);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(name, GetFileExInfoStandard, &data)) {
        return result;
    }
    const unsigned long long size =
        (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (size == 0 || size >= 0x7FFFFFFF) {
        return result;
    }
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        return result;
    }
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size + 1]);
    if (buffer) {
        std::size_t length = std::fread(buffer.get(), 1, size, file);
        length = crlfToLf(buffer.get(), length);
        buffer[length] = '\0';
        *output = std::move(buffer);
    }
    std::fclose(file);
    return result;
}

uint32_t openUrl(const char* url) {
    const std::size_t schemeLength = urlSchemeLength(url);
    if (schemeLength == 0 || !urlIsSafeForCommandLine(url)) {
        return kErrorInvalidParameter;
    }
    const int scheme = schemeLength > 200 ? 200 : static_cast<int>(schemeLength);
    char commandKey[300];
    std::snprintf(commandKey, sizeof commandKey, "%.*s\\shell\\open\\command", scheme, url);
    if (platformVersion().major >= 6) {
        char choiceKey[300];
        std::snprintf(choiceKey, sizeof choiceKey,
                      "Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\%.*"
                      "s\\UserChoice",
                      scheme, url);
        char progid[64];
        if (readStringValue(HKEY_CURRENT_USER, choiceKey, "Progid", progid, sizeof progid) &&
            progid[0] != '\0') {
            std::snprintf(commandKey, sizeof commandKey, "%.*s\\shell\\open\\command",
                          static_cast<int>(sizeof progid), progid);
        }
    }
    char value[kUrlTemplateSize + 1];
    char urlTemplate[kUrlTemplateSize];
    const bool usable =
        readStringValue(HKEY_CLASSES_ROOT, commandKey, nullptr, value, sizeof value) &&
        makeUrlTemplate(value, urlTemplate);
    if (usable && urlTemplateIsChrome(urlTemplate)) {
        return runCommand(0, CREATE_NEW_PROCESS_GROUP, urlTemplate, url);
    }
    if (usable) {
        return runCommandAsDesktopUser(0, CREATE_NEW_PROCESS_GROUP, urlTemplate, url);
    }
    // cmd would run whatever follows an '&' in the URL as a command of its own.
    char escaped[kCommandBufferSize];
    if (!escapeForCmd(url, escaped, sizeof escaped)) {
        return kErrorInsufficientBuffer;
    }
    return runCommandAsDesktopUser(0, CREATE_NEW_PROCESS_GROUP, kStartUrlCommand, escaped);
}

} // namespace velmora::shell
