// refreshStatus and the status report over any VM backend: asks the backend for its state, keeps
// the network type at "nat" while the VM runs, draws the tray icon, tooltip and menu states,
// paces the refresh timer and carries out pending browse and xstatus requests. Free of
// operating-system calls: the Windows side supplies the tray, the timer, the TCP connection and
// the browser through StatusDisplay.
#pragma once
#include <cstddef>

#include "shell/command_line.h"
#include "shell/status_text.h"
#include "vm/cvmx.h"

namespace velmora::shell {

class StatusDisplay {
public:
    virtual ~StatusDisplay() = default;
    virtual void setIconSlot(int slot) = 0;
    virtual void setTooltip(const char* text) = 0;
    virtual void setMenuItemGrayed(unsigned id, bool grayed) = 0;
    virtual void renameMenuItem(unsigned id, const char* text) = 0;
    virtual void setDefaultMenuItem(unsigned id) = 0;
    virtual void setRefreshPeriod(unsigned milliseconds) = 0;
    // Opens the appliance's web console.
    virtual void openConsole() = 0;
    // The xstatus delivery: a TCP connection to 127.0.0.1:port, one send, close.
    virtual bool connectReport(int port) = 0;
    virtual void sendReport(const char* text, std::size_t length) = 0;
    virtual void closeReport() = 0;
};

// Called with (1, 0) on each poll-timer tick, (0, 1) on each refresh-timer tick, (1, 1) when the
// appliance signals, (0, 0) after commands.
void refreshStatus(vm::Cvmx& backend, OptionTable& options, StatusDisplay& display, int checkVm,
                   int queryAppliance);

// The status report in the program-wide 4096-byte buffer, valid until the next call. Runs a full
// pollState(1, 1) for the state.
const char* buildStatusReport(vm::Cvmx& backend);

// Sends the report to 127.0.0.1:port once the appliance has a routable address; clears the
// pending xstatus when the connection was made. Otherwise the request stays pending.
void sendStatusReport(vm::Cvmx& backend, OptionTable& options, StatusDisplay& display, int port);

inline constexpr std::size_t kReportSendSize = 1024; // at most 1023 characters are sent

} // namespace velmora::shell
