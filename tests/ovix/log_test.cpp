// Report lines: the fixed prefix with source, line and function, and debug lines only with -D.
#include "ovix/log.h"

#include <gtest/gtest.h>

#include "capture_stream.h"

namespace velmora::ovix {
namespace {

TEST(Report, ErrorLineHasTheFixedPrefix) {
    testing::ReportCapture reports;
    report(true, kSourceOvix, 512, "write_to_dev", "write dev failed\n");
    report(true, kSourceNetwork, 7, "tcp_connect", "%s %s: %s\n", "host", "1200", "no such host");
    EXPECT_EQ(reports.text(),
              "ovix err:     ovix/ovix: 512 (write_to_dev) write dev failed\n"
              "ovix err: ovix/ovix_network:   7 (tcp_connect ) host 1200: no such host\n");
}

TEST(Report, DebugLinesOnlyWithDebug) {
    testing::ReportCapture reports;
    const int line = __LINE__ + 1;
    OVIX_DBG(kSourceOvix, "attach_device", "done\n");
    OVIX_ERR(kSourceOvix, "main", "can't init winsock\n");
    set_debug(true);
    OVIX_DBG(kSourceOvix, "attach_device", "done\n");
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "ovix err:     ovix/ovix:%4d (main        ) can't init winsock\n"
                  "ovix dbg:     ovix/ovix:%4d (attach_device) done\n",
                  line + 1, line + 3);
    EXPECT_EQ(reports.text(), expected);
}

TEST(Report, OverlongMessageIsCut) {
    testing::ReportCapture reports;
    const std::string big(5000, 'x');
    report(true, kSourceOvix, 1, "f", "%s\n", big.c_str());
    const std::string text = reports.text();
    EXPECT_EQ(text.size(), 2047u);
    EXPECT_EQ(text.rfind("ovix err:", 0), 0u);
}

} // namespace
} // namespace velmora::ovix
