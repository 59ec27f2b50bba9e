#include "shell/status_refresh.h"

#include <cstring>
#include <string>

#include "resource.h"

namespace velmora::shell {
namespace {

constexpr int kConnectionNat = 1;

const char* textOrNull(const std::string& s) {
    return s.empty() ? nullptr : s.c_str();
}

} // namespace

void refreshStatus(vm::Cvmx& backend, OptionTable& options, StatusDisplay& display, int checkVm,
                   int queryAppliance) {
    int state = backend.pollState(checkVm, queryAppliance);

    // The appliance only works behind NAT: a running VM set to anything else is switched over
    // and restarted.
    if (state == vm::kRunning && backend.getConnectionType() != kConnectionNat) {
        backend.setConnectionType(kConnectionNat);
        backend.stop();
        backend.start(0);
        state = backend.pollState(checkVm, queryAppliance);
    }

    const std::string serial = backend.serialSettingsText();
    const std::string usbip = backend.usbipDescription();
    display.renameMenuItem(ID_BROWSE, "Console");
    TooltipInput tip;
    tip.state = state;
    tip.productName = backend.displayProductName();
    tip.quorvaneText = backend.quorvaneText();
    tip.ostrelText = backend.ostrelText();
    tip.serialDescription = textOrNull(serial);
    tip.usbipText = textOrNull(usbip);
    char tooltip[kTooltipBufferSize];
    formatTooltip(tooltip, tip);
    display.setTooltip(tooltip);

    display.setMenuItemGrayed(ID_NETCONFIG,
                              netConfigGrayed(backend.backendType, backend.getConnectionType()));

    const bool running = state == vm::kRunning;
    const MenuStates m =
        menuStatesFor(state, tip.quorvaneText != nullptr, tip.ostrelText != nullptr,
                      std::strcmp(backend.addressText(), "0.0.0.0") == 0);
    if (running && options.present(kOptXstatus)) {
        sendStatusReport(backend, options, display, options.rows[kOptXstatus].value);
    }
    display.setIconSlot(m.iconSlot);
    display.setMenuItemGrayed(ID_START, m.startGrayed);
    display.setMenuItemGrayed(ID_STOP, m.stopGrayed);
    display.setMenuItemGrayed(ID_BROWSE, m.consoleGrayed);
    display.setDefaultMenuItem(m.defaultItem);
    if (running && options.present(kOptBrowse)) {
        options.clear(kOptBrowse);
        display.openConsole();
    }
    display.setRefreshPeriod(m.refreshPeriod);
}

const char* buildStatusReport(vm::Cvmx& backend) {
    static char report[kReportBufferSize];
    // The identity values and the address are taken before the full poll, as the user saw them.
    const std::string serialNumber = backend.displaySerialNumber();
    const std::string address = backend.addressText();
    const std::string firmware = backend.firmware();
    const std::string product = backend.displayProductName();
    const std::string device = backend.displayDeviceName();
    const int state = backend.pollState(1, 1);

    ReportInput in;
    in.state = state;
    in.deviceName = device.c_str();
    in.productName = product.c_str();
    in.firmware = firmware.c_str();
    in.serialNumber = serialNumber.c_str();
    in.address = address.c_str();
    in.quorvaneText = backend.quorvaneText();
    in.ostrelText = backend.ostrelText();
    in.routes = backend.routes.installedRoutes(&in.routeCount);
    const std::string serial = backend.serialSettingsText();
    const std::string usbip = backend.usbipDescription();
    in.serialDescription = textOrNull(serial);
    in.usbipText = textOrNull(usbip);
    return formatStatusReport(report, in);
}

void sendStatusReport(vm::Cvmx& backend, OptionTable& options, StatusDisplay& display, int port) {
    if (!reportAddressUsable(backend.addressText())) {
        return; // stays pending until the appliance has a routable address
    }
    if (display.connectReport(port)) {
        char text[kReportSendSize];
        std::strncpy(text, buildStatusReport(backend), sizeof text - 1);
        text[sizeof text - 1] = '\0';
        display.sendReport(text, std::strlen(text));
        options.clear(kOptXstatus);
    }
    display.closeReport();
}

} // namespace velmora::shell
