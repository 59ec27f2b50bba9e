#include "shell/status_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "resource.h"

namespace velmora::shell {
namespace {

std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                    static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    std::uint32_t v;
    std::memcpy(&v, bytes, sizeof v);
    return v; // network order
}

TEST(StatusText, StateNames) {
    EXPECT_STREQ(stateName(3), "Stopped");
    EXPECT_STREQ(stateName(4), "Starting...");
    EXPECT_STREQ(stateName(5), "Running");
    for (int other : {0, 1, 2, 6, -1}) {
        EXPECT_STREQ(stateName(other), "VMware service not ready");
    }
}

TEST(StatusText, Tooltip) {
    struct Case {
        const char* name;
        TooltipInput in;
        const char* expected;
    };
    const Case cases[] = {
        {"running, Quorvane only",
         {5, "Gateway A", "Connected", nullptr, nullptr, nullptr},
         "Gateway A: Running\nQV: Connected"},
        {"running, no texts",
         {5, "Gateway A", nullptr, nullptr, nullptr, nullptr},
         "Gateway A: Running\nQV: Disconnected"},
        {"Ostrel text after ' :: '",
         {5, "G", "Connected", "site :: online", nullptr, nullptr},
         "G: Running\nOstrel: online"},
        {"Ostrel text without separator",
         {5, "G", nullptr, "plain", nullptr, nullptr},
         "G: Running\nOstrel: plain"},
        {"only the first ' :: ' counts",
         {5, "G", "C", "a :: b :: c", nullptr, nullptr},
         "G: Running\nOstrel: b :: c"},
        {"empty product while stopped",
         {3, "", nullptr, nullptr, nullptr, nullptr},
         "Velmora: Stopped"},
        {"null product while starting",
         {4, nullptr, nullptr, nullptr, nullptr, nullptr},
         "Velmora: Starting..."},
        {"other state",
         {1, "P", nullptr, nullptr, nullptr, nullptr},
         "P: VMware service not ready"},
        {"serial description up to its colon",
         {5, "G", "C", "s :: up", "COM5: host:port 9600,8,N,1", nullptr},
         "G: Running\nOstrel: up\nCOM5:"},
        {"serial without colon and USB",
         {5, "G", "C", "up", "COM5", "1-1 on 10.0.0.9"},
         "G: Running\nOstrel: up\nCOM5\nUSB: 1-1 on 10.0.0.9"},
        {"empty texts are absent", {5, "G", "", "", "", ""}, "G: Running\nQV: Disconnected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char out[kTooltipBufferSize];
        formatTooltip(out, c.in);
        EXPECT_STREQ(out, c.expected);
    }
    // Long texts are cut to the buffer, not overrun.
    const std::string huge(2000, 'x');
    char out[kTooltipBufferSize];
    formatTooltip(out, {5, huge.c_str(), nullptr, nullptr, nullptr, nullptr});
    EXPECT_EQ(std::string(out), huge.substr(0, kTooltipBufferSize - 1));
}

TEST(StatusText, MenuStatesIconAndTimerByState) {
    struct Case {
        int state;
        bool qv, ostrel, addressUnknown;
        int slot;
        bool start, stop, console; // grayed
        unsigned def, period;
    };
    const Case cases[] = {
        {3, false, false, true, kSlotStopped, false, true, true, ID_STATUS, 0},
        {4, false, false, true, kSlotStarting, true, false, true, ID_STATUS, 5000},
        {5, false, false, false, kSlotRunning, true, false, false, ID_BROWSE, 60000},
        {5, false, true, false, kSlotRunning, true, false, false, ID_BROWSE, 60000},
        {5, true, false, false, kSlotRunningQuorvane, true, false, false, ID_BROWSE, 60000},
        {5, true, true, false, kSlotRunningConnected, true, false, false, ID_BROWSE, 60000},
        {2, false, false, true, kSlotStopped, true, true, true, ID_STATUS, 5000},
        {0, false, false, false, kSlotStopped, true, true, false, ID_STATUS, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "state " << c.state << " qv " << c.qv << " ostrel "
                                        << c.ostrel << " unknown " << c.addressUnknown);
        const MenuStates m = menuStatesFor(c.state, c.qv, c.ostrel, c.addressUnknown);
        EXPECT_EQ(m.iconSlot, c.slot);
        EXPECT_EQ(m.startGrayed, c.start);
        EXPECT_EQ(m.stopGrayed, c.stop);
        EXPECT_EQ(m.consoleGrayed, c.console);
        EXPECT_EQ(m.defaultItem, c.def);
        EXPECT_EQ(m.refreshPeriod, c.period);
    }
    EXPECT_EQ(iconResourceForSlot(kSlotRunning), IDI_RUNNING);
    EXPECT_EQ(iconResourceForSlot(kSlotRunningQuorvane), IDI_RUNNING_QV);
    EXPECT_EQ(iconResourceForSlot(kSlotRunningConnected), IDI_RUNNING_CONNECTED);
    EXPECT_EQ(iconResourceForSlot(kSlotStarting), IDI_STARTING);
    EXPECT_EQ(iconResourceForSlot(kSlotStopped), IDI_STOPPED);

    EXPECT_TRUE(netConfigGrayed(4, 1));
    EXPECT_TRUE(netConfigGrayed(1, 0));
    EXPECT_FALSE(netConfigGrayed(1, 1));
    EXPECT_FALSE(netConfigGrayed(2, 3));
}

TEST(StatusText, PrefixLengthsAndReportAddresses) {
    EXPECT_EQ(maskPrefixLength(ip(255, 255, 255, 0)), 24);
    EXPECT_EQ(maskPrefixLength(ip(255, 255, 255, 255)), 32);
    EXPECT_EQ(maskPrefixLength(ip(255, 255, 128, 0)), 17);
    EXPECT_EQ(maskPrefixLength(ip(0, 0, 0, 0)), 0);
    EXPECT_EQ(maskPrefixLength(ip(255, 0, 255, 0)), -1);
    EXPECT_EQ(maskPrefixLength(ip(0, 0, 0, 1)), -1);

    EXPECT_TRUE(reportAddressUsable("198.18.0.2"));
    EXPECT_TRUE(reportAddressUsable("10.0.0.1"));
    EXPECT_FALSE(reportAddressUsable(""));
    EXPECT_FALSE(reportAddressUsable(nullptr));
    EXPECT_FALSE(reportAddressUsable("0.0.0.0"));
    EXPECT_FALSE(reportAddressUsable("169.254.1.1"));
}

TEST(StatusText, Report) {
    const supervision::RouteEntry routes[] = {
        {ip(10, 1, 2, 0), ip(255, 255, 255, 0)},
        {ip(10, 9, 9, 9), ip(255, 255, 255, 255)},
        {ip(172, 16, 0, 0), ip(255, 0, 255, 0)},
    };
    struct Case {
        const char* name;
        ReportInput in;
        const char* expected;
    };
    const Case cases[] = {
        {"stopped, serial number 0 is absent",
         {3, "dev", "prod", "1.2", "0", "0.0.0.0"},
         "State: Stopped\nDevice Name: dev\nProduct Name: prod\nFirmware: 1.2\nIP Address: "
         "0.0.0.0"},
        {"serial number, Quorvane and the whole Ostrel text",
         {5, "dev", "prod", "1.2", "SN42", "198.18.0.2", "Connected", "site :: online"},
         "State: Running\nDevice Name: dev\nProduct Name: prod\nFirmware: 1.2\nSerial No: "
         "SN42\nIP Address: 198.18.0.2\n\nQuorvane: Connected\nOstrel Connection: site :: "
         "online"},
        {"Ostrel without Quorvane is not shown",
         {5, "d", "p", "f", nullptr, "1.1.1.1", nullptr, "x :: y"},
         "State: Running\nDevice Name: d\nProduct Name: p\nFirmware: f\nIP Address: 1.1.1.1"},
        {"routes, serial emulation and USB/IP",
         {5, "d", "p", "f", "", "1.1.1.1", "C", nullptr, routes, 3, "COM5: host:port 9600",
          "1-1 on 10.0.0.9"},
         "State: Running\nDevice Name: d\nProduct Name: p\nFirmware: f\nIP Address: "
         "1.1.1.1\n\nQuorvane: C\n\nInstalled routes:\n 10.1.2.0/24\n 10.9.9.9\n "
         "172.16.0.0/-1\n\nSerial port emulation:\n COM5: host:port 9600\n\nUSB/IP attachment: "
         "1-1 on 10.0.0.9"},
        {"null texts",
         {1},
         "State: VMware service not ready\nDevice Name: \nProduct Name: "
         "\nFirmware: \nIP Address: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char out[kReportBufferSize];
        EXPECT_STREQ(formatStatusReport(out, c.in), c.expected);
    }

    // A report longer than the buffer is cut at 4095 characters.
    const std::string huge(3000, 'u');
    ReportInput in{5, "d", "p", "f", nullptr, "1.1.1.1", "C"};
    in.serialDescription = huge.c_str();
    in.usbipText = huge.c_str();
    char out[kReportBufferSize];
    formatStatusReport(out, in);
    EXPECT_EQ(std::strlen(out), kReportBufferSize - 1);
    EXPECT_NE(std::string(out).find("\n\nUSB/IP attachment: uuu"), std::string::npos);
}

} // namespace
} // namespace velmora::shell
