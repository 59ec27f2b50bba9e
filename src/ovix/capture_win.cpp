#include <windows.h>

#include "ovix/capture_format.h"

namespace velmora::ovix {
namespace {

HANDLE g_file = INVALID_HANDLE_VALUE;

// A write that fails or comes up short turns capture off, so that the file never holds a
// record header without its data.
bool write_all(const void* data, DWORD n) {
    DWORD written = 0;
    if (!WriteFile(g_file, data, n, &written, nullptr) || written != n) {
        capture_close();
        return false;
    }
    return true;
}

} // namespace

void capture_open() {
    capture_close();
    SYSTEMTIME now;
    GetSystemTime(&now);
    const CaptureClock utc = {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                              now.wMinute, now.wSecond, now.wMilliseconds};
    g_file = CreateFileA(capture_file_name(utc).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_file == INVALID_HANDLE_VALUE) {
        return;
    }
    std::uint8_t header[kCaptureGlobalHeaderSize];
    capture_global_header(header);
    write_all(header, sizeof header);
}

void capture_record(const std::uint8_t* frame, std::size_t n) {
    if (g_file == INVALID_HANDLE_VALUE) {
        return;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t filetime =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    std::uint8_t header[kCaptureRecordHeaderSize];
    capture_record_header(header, filetime_to_unix_microseconds(filetime), n);
    if (write_all(header, sizeof header)) {
        write_all(frame, static_cast<DWORD>(capture_stored_length(n)));
    }
}

void capture_close() {
    if (g_file != INVALID_HANDLE_VALUE) {
        CloseHandle(g_file);
        g_file = INVALID_HANDLE_VALUE;
    }
}

bool capture_is_open() {
    return g_file != INVALID_HANDLE_VALUE;
}

} // namespace velmora::ovix
