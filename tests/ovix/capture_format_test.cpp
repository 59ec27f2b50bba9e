// Capture file bytes: the global header and the record header, little-endian, and the name.
#include "ovix/capture_format.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora::ovix {
namespace {

TEST(CaptureFormat, GlobalHeaderIsClassicPcapForEthernet) {
    std::uint8_t h[kCaptureGlobalHeaderSize];
    capture_global_header(h);
    const std::vector<std::uint8_t> expected = {
        0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(std::vector<std::uint8_t>(h, h + sizeof h), expected);
}

TEST(CaptureFormat, RecordHeaderCarriesTimeAndLengths) {
    std::uint8_t h[kCaptureRecordHeaderSize];
    capture_record_header(h, 1700000000ull * 1000000u + 123456u, 60);
    const std::vector<std::uint8_t> expected = {0x00, 0xF1, 0x53, 0x65, 0x40, 0xE2, 0x01, 0x00,
                                                60,   0,    0,    0,    60,   0,    0,    0};
    EXPECT_EQ(std::vector<std::uint8_t>(h, h + sizeof h), expected);
}

TEST(CaptureFormat, LongFrameIsStoredUpToTheSnapshotLength) {
    std::uint8_t h[kCaptureRecordHeaderSize];
    capture_record_header(h, 0, 70000);
    EXPECT_EQ(h[8] | h[9] << 8 | h[10] << 16 | h[11] << 24, 65535);
    EXPECT_EQ(h[12] | h[13] << 8 | h[14] << 16 | h[15] << 24, 70000);
    EXPECT_EQ(capture_stored_length(65535), 65535u);
    EXPECT_EQ(capture_stored_length(65536), 65535u);
}

TEST(CaptureFormat, FiletimeBecomesUnixMicroseconds) {
    // 1970-01-01 in 100-ns units since 1601, plus 1.5 s and 7 units (cut to the microsecond).
    EXPECT_EQ(filetime_to_unix_microseconds(116444736000000000ull), 0u);
    EXPECT_EQ(filetime_to_unix_microseconds(116444736000000000ull + 15000000ull + 7), 1500000u);
}

TEST(CaptureFormat, FileNameHasDateTimeAndMilliseconds) {
    EXPECT_EQ(capture_file_name({2024, 3, 5, 7, 8, 9, 12}), "l2-20240305-070809.012.pcap");
    EXPECT_EQ(capture_file_name({1999, 12, 31, 23, 59, 59, 999}), "l2-19991231-235959.999.pcap");
}

} // namespace
} // namespace velmora::ovix
