#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "ovix/capture_format.h"

namespace velmora::ovix {
namespace {

int g_file = -1;

std::uint64_t now_microseconds(timespec* now) {
    clock_gettime(CLOCK_REALTIME, now);
    return static_cast<std::uint64_t>(now->tv_sec) * 1000000u +
           static_cast<std::uint64_t>(now->tv_nsec) / 1000u;
}

// Header and data leave in one call; one that fails or comes up short turns capture off, so
// the file never holds a record header without its data.
void write_all(iovec* parts, int count) {
    std::size_t total = 0;
    for (int i = 0; i < count; ++i) {
        total += parts[i].iov_len;
    }
    ssize_t n;
    do {
        n = writev(g_file, parts, count);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || static_cast<std::size_t>(n) != total) {
        capture_close();
    }
}

} // namespace

void capture_open() {
    capture_close();
    timespec now;
    now_microseconds(&now);
    tm utc;
    gmtime_r(&now.tv_sec, &utc);
    const CaptureClock clock = {
        static_cast<unsigned>(utc.tm_year + 1900),   static_cast<unsigned>(utc.tm_mon + 1),
        static_cast<unsigned>(utc.tm_mday),          static_cast<unsigned>(utc.tm_hour),
        static_cast<unsigned>(utc.tm_min),           static_cast<unsigned>(utc.tm_sec),
        static_cast<unsigned>(now.tv_nsec / 1000000)};
    g_file = open(capture_file_name(clock).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (g_file < 0) {
        return;
    }
    std::uint8_t header[kCaptureGlobalHeaderSize];
    capture_global_header(header);
    iovec part = {header, sizeof header};
    write_all(&part, 1);
}

void capture_record(const std::uint8_t* frame, std::size_t n) {
    if (g_file < 0) {
        return;
    }
    timespec now;
    std::uint8_t header[kCaptureRecordHeaderSize];
    capture_record_header(header, now_microseconds(&now), n);
    iovec parts[2] = {{header, sizeof header},
                      {const_cast<std::uint8_t*>(frame), capture_stored_length(n)}};
    write_all(parts, 2);
}

void capture_close() {
    if (g_file >= 0) {
        close(g_file);
        g_file = -1;
    }
}

bool capture_is_open() {
    return g_file >= 0;
}

} // namespace velmora::ovix
