// The capture file's bytes: classic pcap, little-endian, microsecond time stamps, link type 1.
// The platform writers (capture_win.cpp, capture_linux.cpp) only add the clock and the file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::ovix {

inline constexpr std::size_t kCaptureGlobalHeaderSize = 24;
inline constexpr std::size_t kCaptureRecordHeaderSize = 16;
inline constexpr std::uint32_t kCaptureSnapLength = 65535;

struct CaptureClock { // UTC
    unsigned year, month, day, hour, minute, second, millisecond;
};

// "l2-%04u%02u%02u-%02u%02u%02u.%03u.pcap"
std::string capture_file_name(const CaptureClock& utc);

void capture_global_header(std::uint8_t out[kCaptureGlobalHeaderSize]);

// Stored length is n but at most the snapshot length; the original length is n.
void capture_record_header(std::uint8_t out[kCaptureRecordHeaderSize],
                           std::uint64_t unix_microseconds, std::size_t n);
std::size_t capture_stored_length(std::size_t n);

// 100-ns units since 1601-01-01 UTC to microseconds since 1970-01-01 UTC.
std::uint64_t filetime_to_unix_microseconds(std::uint64_t filetime);

// The platform writer: open when forwarding starts with -c (no message when the file cannot be
// made: capture just stays off), one record per forwarded frame, close when forwarding ends.
void capture_open();
void capture_record(const std::uint8_t* frame, std::size_t n);
void capture_close();
bool capture_is_open();

} // namespace velmora::ovix
