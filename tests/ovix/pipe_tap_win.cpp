#include "pipe_tap_win.h"

#include <cstdio>
#include <mutex>

namespace velmora::ovix::testing {
namespace {

constexpr DWORD kTapSetMediaStatus = 0x00220018;
constexpr DWORD kPipeBuffer = 1 << 20;

std::mutex g_lock;
std::vector<bool> g_media;

tap_t open_pipe_tap(const char* tapguid) {
    const HANDLE h = CreateFileA(pipe_tap_name(tapguid).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_SYSTEM, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return kNoTap;
    }
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (!SetNamedPipeHandleState(h, &mode, nullptr, nullptr)) {
        CloseHandle(h);
        return kNoTap;
    }
    return h;
}

void pipe_media(tap_t tap, bool connected) {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_media.push_back(connected);
    }
    ULONG status = connected ? 1 : 0;
    DWORD returned = 0;
    DeviceIoControl(tap, kTapSetMediaStatus, &status, sizeof status, nullptr, 0, &returned,
                    nullptr);
}

const TapDriver kPipeDriver = {open_pipe_tap, pipe_media};

bool finish(HANDLE h, OVERLAPPED* o, BOOL started, DWORD wait_ms, DWORD* n) {
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    if (WaitForSingleObject(o->hEvent, wait_ms) != WAIT_OBJECT_0) {
        CancelIoEx(h, o);
        GetOverlappedResult(h, o, n, TRUE);
        return false;
    }
    return GetOverlappedResult(h, o, n, FALSE) != 0;
}

} // namespace

std::string pipe_tap_name(const char* tapguid) {
    char name[160];
    std::snprintf(name, sizeof name, "\\\\.\\pipe\\ovix-tap-%s", tapguid);
    return name;
}

const TapDriver& pipe_tap_driver() {
    return kPipeDriver;
}

std::vector<bool> pipe_tap_media() {
    std::lock_guard<std::mutex> lock(g_lock);
    return g_media;
}

void pipe_tap_clear_media() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_media.clear();
}

HANDLE create_pipe_tap(const char* tapguid) {
    return CreateNamedPipeA(pipe_tap_name(tapguid).c_str(),
                            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kPipeBuffer,
                            kPipeBuffer, 0, nullptr);
}

bool pipe_write(HANDLE pipe, const void* data, DWORD n, DWORD wait_ms) {
    OVERLAPPED o = {};
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    BOOL started = WriteFile(pipe, data, n, &written, &o);
    // The program under test may not have opened the adapter yet (a loaded machine): give it
    // the same time a frame gets.
    for (DWORD waited = 0; !started && GetLastError() == ERROR_PIPE_LISTENING && waited < wait_ms;
         waited += 20) {
        Sleep(20);
        started = WriteFile(pipe, data, n, &written, &o);
    }
    const bool ok = finish(pipe, &o, started, wait_ms, &written) && written == n;
    CloseHandle(o.hEvent);
    return ok;
}

bool pipe_read(HANDLE pipe, std::vector<unsigned char>* message, DWORD wait_ms) {
    message->resize(140000);
    OVERLAPPED o = {};
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD n = 0;
    const BOOL started =
        ReadFile(pipe, message->data(), static_cast<DWORD>(message->size()), &n, &o);
    const bool ok = finish(pipe, &o, started, wait_ms, &n);
    CloseHandle(o.hEvent);
    message->resize(ok ? n : 0);
    return ok;
}

} // namespace velmora::ovix::testing
