#include "ovix/capture_format.h"

#include <cstdio>

namespace velmora::ovix {
namespace {

void put32(std::uint8_t* at, std::uint32_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
    at[2] = static_cast<std::uint8_t>(v >> 16);
    at[3] = static_cast<std::uint8_t>(v >> 24);
}

void put16(std::uint8_t* at, std::uint16_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

} // namespace

std::string capture_file_name(const CaptureClock& utc) {
    char name[64];
    std::snprintf(name, sizeof name, "l2-%04u%02u%02u-%02u%02u%02u.%03u.pcap", utc.year, utc.month,
                  utc.day, utc.hour, utc.minute, utc.second, utc.millisecond);
    return name;
}

void capture_global_header(std::uint8_t out[kCaptureGlobalHeaderSize]) {
    put32(out, 0xA1B2C3D4u);
    put16(out + 4, 2);
    put16(out + 6, 4);
    put32(out + 8, 0);
    put32(out + 12, 0);
    put32(out + 16, kCaptureSnapLength);
    put32(out + 20, 1);
}

std::size_t capture_stored_length(std::size_t n) {
    return n > kCaptureSnapLength ? kCaptureSnapLength : n;
}

void capture_record_header(std::uint8_t out[kCaptureRecordHeaderSize],
                           std::uint64_t unix_microseconds, std::size_t n) {
    put32(out, static_cast<std::uint32_t>(unix_microseconds / 1000000u));
    put32(out + 4, static_cast<std::uint32_t>(unix_microseconds % 1000000u));
    put32(out + 8, static_cast<std::uint32_t>(capture_stored_length(n)));
    put32(out + 12, static_cast<std::uint32_t>(n));
}

std::uint64_t filetime_to_unix_microseconds(std::uint64_t filetime) {
    return filetime / 10u - 11644473600000000ull;
}

} // namespace velmora::ovix
