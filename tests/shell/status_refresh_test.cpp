#include "shell/status_refresh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"
#include "shell/interval_timer.h"
#include "vm/temp_dir.h"

namespace velmora::shell {
namespace {

using vm::testing::readText;
using vm::testing::TempDir;
using vm::testing::writeText;

using Events = std::vector<std::string>;

// A backend whose VM and appliance do what the test sets; every call is recorded.
class ScriptedBackend : public vm::Cvmx {
public:
    explicit ScriptedBackend(Events* events) : events_(events) { backendType = 1; }
    ~ScriptedBackend() override { state = vm::kCreated; }
    int open() override { return 0; }
    int close() override { return 0; }
    int prepare() override { return 0; }
    void releaseProcesses() override {}
    int start(int showConsole) override {
        events_->push_back("start " + std::to_string(showConsole));
        state = vm::kStarting;
        return 0;
    }
    int stop() override {
        events_->push_back("stop");
        state = vm::kStopped;
        return 0;
    }
    int pollState(int checkVm, int queryAppliance) override {
        events_->push_back("poll " + std::to_string(checkVm) + " " +
                           std::to_string(queryAppliance));
        if (!polledStates.empty()) {
            state = polledStates.front();
            polledStates.erase(polledStates.begin());
        }
        return state;
    }
    int setUp() override { return 0; }

    std::vector<int> polledStates; // states the next polls find, in order; then unchanged

private:
    Events* events_;
};

class RecordingDisplay : public StatusDisplay {
public:
    explicit RecordingDisplay(Events* events) : events_(events) {}
    void setIconSlot(int slot) override { add("icon " + std::to_string(slot)); }
    void setTooltip(const char* text) override {
        tooltip = text;
        add("tooltip");
    }
    void setMenuItemGrayed(unsigned id, bool grayed) override {
        add("gray " + std::to_string(id) + " " + std::to_string(grayed ? 1 : 0));
    }
    void renameMenuItem(unsigned id, const char* text) override {
        add("rename " + std::to_string(id) + " " + text);
    }
    void setDefaultMenuItem(unsigned id) override { add("default " + std::to_string(id)); }
    void setRefreshPeriod(unsigned ms) override { add("timer " + std::to_string(ms)); }
    void openConsole() override { add("console"); }
    bool connectReport(int port) override {
        add("connect " + std::to_string(port));
        return listening;
    }
    void sendReport(const char* text, std::size_t length) override {
        sent.assign(text, length);
        add("send");
    }
    void closeReport() override { add("close"); }

    bool listening = true;
    std::string tooltip;
    std::string sent;

private:
    void add(std::string e) { events_->push_back(std::move(e)); }
    Events* events_;
};

// Position of an event, or -1.
int at(const Events& events, const std::string& e) {
    const auto it = std::find(events.begin(), events.end(), e);
    return it == events.end() ? -1 : static_cast<int>(it - events.begin());
}

class Refresh : public ::testing::Test {
protected:
    void SetUp() override {
        writeVmx("nat");
        backend.vmxPath = vmx;
        backend.state = vm::kStopped;
    }
    void writeVmx(const char* type) {
        writeText(vmx, std::string("config.version = \"8\"\nEthernet0.connectionType = \"") + type +
                           "\"\n");
    }
    void running(const char* address = "198.18.0.2") {
        backend.state = vm::kRunning;
        unsigned a, b, c, d;
        ASSERT_EQ(std::sscanf(address, "%u.%u.%u.%u", &a, &b, &c, &d), 4);
        const unsigned char bytes[4] = {
            static_cast<unsigned char>(a), static_cast<unsigned char>(b),
            static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
        std::memcpy(&backend.info.address, bytes, 4);
        supervision::copyText(backend.info.productName, "Gateway A");
        supervision::copyText(backend.info.quorvaneText, "Connected");
    }

    TempDir dir;
    std::string vmx = dir.file("Velmora.vmx");
    Events events;
    ScriptedBackend backend{&events};
    RecordingDisplay display{&events};
    OptionTable options = makeOptionTable();
};

TEST_F(Refresh, StoppedDrawsTheStoppedMenuAndStopsTheRefreshTimer) {
    options.set(kOptBrowse);
    options.set(kOptXstatus, 5000);
    refreshStatus(backend, options, display, 1, 0);
    EXPECT_EQ(display.tooltip, "Velmora: Stopped");
    const Events expected = {"poll 1 0",     "rename 32773 Console", "tooltip",
                             "gray 32776 0", // nat
                             "icon 4",       "gray 32771 0",         "gray 32772 1",
                             "gray 32773 1", "default 32774",        "timer 0"};
    EXPECT_EQ(events, expected);
    // Pending requests wait for Running.
    EXPECT_TRUE(options.present(kOptBrowse));
    EXPECT_TRUE(options.present(kOptXstatus));
}

TEST_F(Refresh, RunningSendsThePendingReportBeforeTheIconAndOpensTheConsoleBeforeTheTimer) {
    running();
    options.set(kOptBrowse);
    options.set(kOptXstatus, 5000);
    refreshStatus(backend, options, display, 0, 1);
    EXPECT_EQ(display.tooltip, "Gateway A: Running\nQV: Connected");
    // The report's own full poll comes after the connection was made.
    const int connect = at(events, "connect 5000");
    ASSERT_GE(connect, 0);
    EXPECT_EQ(events[connect + 1], "poll 1 1");
    EXPECT_EQ(events[connect + 2], "send");
    EXPECT_EQ(events[connect + 3], "close");
    EXPECT_LT(at(events, "close"), at(events, "icon 1"));
    EXPECT_LT(at(events, "icon 1"), at(events, "default 32773"));
    EXPECT_EQ(at(events, "default 32773") + 1, at(events, "console"));
    EXPECT_EQ(at(events, "console") + 1, at(events, "timer 60000"));
    EXPECT_GE(at(events, "gray 32773 0"), 0);
    EXPECT_GE(at(events, "gray 32771 1"), 0);
    EXPECT_FALSE(options.present(kOptBrowse));
    EXPECT_FALSE(options.present(kOptXstatus));
    EXPECT_EQ(options.rows[kOptXstatus].value, 0);
    EXPECT_EQ(display.sent.rfind("State: Running\nDevice Name: \nProduct Name: Gateway A\n", 0),
              0u);
    EXPECT_NE(display.sent.find("\nIP Address: 198.18.0.2\n\nQuorvane: Connected"),
              std::string::npos);
}

TEST_F(Refresh, ReportWaitsForARoutableAddressAndAListener) {
    for (const char* address : {"169.254.1.1", "0.0.0.0"}) {
        SCOPED_TRACE(address);
        events.clear();
        running(address);
        options.set(kOptXstatus, 5000);
        refreshStatus(backend, options, display, 0, 1);
        EXPECT_EQ(at(events, "connect 5000"), -1);
        EXPECT_TRUE(options.present(kOptXstatus));
        EXPECT_EQ(options.rows[kOptXstatus].value, 5000);
    }
    // The listener is not there: the request stays pending, the socket is closed.
    events.clear();
    running();
    display.listening = false;
    refreshStatus(backend, options, display, 0, 1);
    EXPECT_EQ(at(events, "connect 5000") + 1, at(events, "close"));
    EXPECT_EQ(at(events, "send"), -1);
    EXPECT_TRUE(options.present(kOptXstatus));
    // Next time it is there: sent once, then no more.
    display.listening = true;
    refreshStatus(backend, options, display, 0, 1);
    EXPECT_GE(at(events, "send"), 0);
    events.clear();
    refreshStatus(backend, options, display, 0, 1);
    EXPECT_EQ(at(events, "connect 5000"), -1);
}

TEST_F(Refresh, ARunningVmNotOnNatIsSwitchedAndRestarted) {
    writeVmx("bridged");
    running();
    backend.polledStates = {vm::kRunning, vm::kStarting};
    refreshStatus(backend, options, display, 1, 0);
    const Events head(events.begin(), events.begin() + 4);
    EXPECT_EQ(head, (Events{"poll 1 0", "stop", "start 0", "poll 1 0"}));
    EXPECT_NE(readText(vmx).find("Ethernet0.connectionType = \"nat\""), std::string::npos);
    EXPECT_EQ(display.tooltip, "Gateway A: Starting...");
    EXPECT_GE(at(events, "icon 3"), 0);
    EXPECT_GE(at(events, "timer 5000"), 0);

    // On nat nothing is restarted.
    events.clear();
    backend.polledStates = {vm::kRunning};
    refreshStatus(backend, options, display, 0, 1);
    EXPECT_EQ(at(events, "stop"), -1);
    EXPECT_EQ(at(events, "start 0"), -1);
}

TEST_F(Refresh, NetConfigAndConsoleInOtherStates) {
    writeVmx("bridged");
    backend.state = vm::kOpened; // "VMware service not ready", address unknown
    refreshStatus(backend, options, display, 0, 0);
    EXPECT_EQ(display.tooltip, "Velmora: VMware service not ready");
    EXPECT_GE(at(events, "gray 32776 1"), 0); // bridged
    EXPECT_GE(at(events, "gray 32773 1"), 0);
    EXPECT_GE(at(events, "gray 32771 1"), 0);
    EXPECT_GE(at(events, "gray 32772 1"), 0);
    EXPECT_GE(at(events, "timer 5000"), 0);

    // A known address enables Console; VirtualBox grays Net Config whatever the type.
    events.clear();
    writeVmx("nat");
    backend.info.address = 0x0100000A;
    backend.backendType = vm::kBackendVBox;
    refreshStatus(backend, options, display, 0, 0);
    EXPECT_GE(at(events, "gray 32773 0"), 0);
    EXPECT_GE(at(events, "gray 32776 1"), 0);
}

class RecordingTimers : public TimerHost {
public:
    void startTimer(std::uintptr_t id, unsigned ms) override {
        calls.push_back("start " + std::to_string(ms));
        ids.push_back(id);
    }
    void killTimer(std::uintptr_t id) override {
        calls.push_back("kill");
        ids.push_back(id);
    }
    Events calls;
    std::vector<std::uintptr_t> ids;
};

TEST(IntervalTimer, SamePeriodKeepsTheRhythmAndZeroStops) {
    RecordingTimers host;
    IntervalTimer poll;
    IntervalTimer refresh;
    EXPECT_NE(poll.id(), refresh.id());
    poll.set(host, 1000);
    poll.set(host, 1000); // unchanged: nothing
    poll.set(host, 10000);
    poll.set(host, 0);
    poll.set(host, 0);
    EXPECT_EQ(host.calls, (Events{"start 1000", "kill", "start 10000", "kill"}));
    for (std::uintptr_t id : host.ids) {
        EXPECT_EQ(id, poll.id());
    }
    EXPECT_EQ(poll.period(), 0u);
}

} // namespace
} // namespace velmora::shell
