// What the status display says: state names, the tray tooltip, the icon slot, the menu states and
// the multi-line status report. Free of operating-system calls; refreshStatus and the report
// commands feed it what the VM backend knows.
#pragma once
#include <cstddef>
#include <cstdint>

#include "supervision/route_set.h"

namespace velmora::shell {

// "Stopped", "Starting...", "Running"; any other state "VMware service not ready".
const char* stateName(int state);

// Icon slots and the resources they show.
inline constexpr int kIconSlotCount = 5;
inline constexpr int kSlotRunning = 0;          // Running, no Quorvane status text
inline constexpr int kSlotRunningQuorvane = 1;  // Running with a Quorvane text, no Ostrel text
inline constexpr int kSlotRunningConnected = 2; // Running with both texts
inline constexpr int kSlotStarting = 3;
inline constexpr int kSlotStopped = 4; // Stopped, any other state, and at start-up
int iconResourceForSlot(int slot);

// What the tooltip is made of. Null and empty texts are the same: absent.
struct TooltipInput {
    int state = 0;
    const char* productName = nullptr;
    const char* quorvaneText = nullptr;
    const char* ostrelText = nullptr;
    const char* serialDescription = nullptr;
    const char* usbipText = nullptr;
};

inline constexpr std::size_t kTooltipBufferSize = 512;
// "%s: %s%s%s%s%s%s%s%s%s": product (or "Velmora"), state name, and while Running a second line
// "Ostrel: <text after ' :: '>" or "QV: <Quorvane text or Disconnected>"; then the serial
// description up to its first ':' and "USB: <text>" on lines of their own.
void formatTooltip(char (&out)[kTooltipBufferSize], const TooltipInput& in);

// The icon, menu entries, default entry and refresh period for a state.
struct MenuStates {
    int iconSlot = kSlotStopped;
    bool startGrayed = true;
    bool stopGrayed = true;
    bool consoleGrayed = true;
    unsigned defaultItem = 0;   // a command id
    unsigned refreshPeriod = 0; // milliseconds; 0 = off
};
MenuStates menuStatesFor(int state, bool hasQuorvaneText, bool hasOstrelText, bool addressUnknown);

// Net Config is grayed for VirtualBox and for the "bridged" connection type (index 0).
bool netConfigGrayed(int backendType, int connectionType);

// The number of leading one bits of a mask (network order), or -1 when a one bit follows a zero.
int maskPrefixLength(std::uint32_t maskNetworkOrder);

// Whether the status report may be sent for this dotted appliance address: not empty and not
// beginning with "0." or "169.".
bool reportAddressUsable(const char* dottedAddress);

// What the status report is made of. Null and empty texts are the same: absent.
struct ReportInput {
    int state = 0;
    const char* deviceName = nullptr;
    const char* productName = nullptr;
    const char* firmware = nullptr;
    const char* serialNumber = nullptr; // "0" counts as absent
    const char* address = nullptr;
    const char* quorvaneText = nullptr;
    const char* ostrelText = nullptr;
    const supervision::RouteEntry* routes = nullptr;
    int routeCount = 0;
    const char* serialDescription = nullptr;
    const char* usbipText = nullptr;
};

inline constexpr std::size_t kReportBufferSize = 4096;
// Fills the buffer with the report; each part is appended only as far as it fits. Returns out.
const char* formatStatusReport(char (&out)[kReportBufferSize], const ReportInput& in);

} // namespace velmora::shell
