#include "vm/cvmx.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "supervision/dns_suffix.h"
#include "vm/channel_link.h"
#include "vm/link_check.h"
#include "vm/network_editor.h"

namespace velmora::vm {

Cvmx::~Cvmx() {
    if (state > kCreated) {
        channelDestroy();
        state = kCreated;
    }
    layer2.clear();
    usbip.clear();
    serial.Stop();
    routes.removeAll();
}

int Cvmx::checkLink() {
    if (!isUsableUnicast(info.address)) {
        return 1;
    }
    std::vector<HostAddress> table;
    const int r = readHostAddressTable(&table);
    if (r != 0) {
        return r;
    }
    return linkProblem(info.address, table.data(), table.size());
}

void Cvmx::onAppliancePolled() {}

int Cvmx::configure(const char* path) {
    vmxPath = path;
    char value[kVmxLineBuffer];
    const char* file = vmxPath.c_str();
    if (!readSettingInto(file, vmxkey::kConfigVersion, value, sizeof value)) {
        return kErrorBadFormat;
    }
    if (readSettingInto(file, vmxkey::kApplianceHostname, value, sizeof value)) {
        supervision::copyText(info.deviceNameWritten, value, 99);
    }
    if (readSettingInto(file, vmxkey::kApplianceSerialNo, value, sizeof value)) {
        supervision::copyText(info.serialNumberWritten, value, 49);
    }
    if (readSettingInto(file, vmxkey::kApplianceProductName, value, sizeof value)) {
        supervision::copyText(info.productNameWritten, value, 99);
    }
    if (readSettingInto(file, vmxkey::kComPort, value, sizeof value)) {
        const int n = comPortNumber(value);
        if (n != 0 && n != serial.GetVirtualPortNumber()) {
            serial.EnsureVirtualPort(n);
        }
    }

    const int r = setUp();
    if (r != 0 && r != kErrorNotActive) {
        return r;
    }
    if (backendType != kBackendVBox) {
        std::string openCommand;
        if (readVmwareOpenCommand(&openCommand) == 0 && !openCommand.empty()) {
            networkEditorCommand =
                networkEditorFromOpenCommand(openCommand.data(), openCommand.size());
        }
    }
    if (channelInit() != 0) {
        return kErrorChannel;
    }
    if (!readSettingInto(file, vmxkey::kUuidAction, value, sizeof value)) {
        writeSetting(vmxkey::kUuidAction, "keep");
    }
    if (!readSettingInto(file, vmxkey::kIde01Present, value, sizeof value) ||
        std::strcmp(value, "TRUE") != 0) {
        writeSetting(vmxkey::kIde01Present, "TRUE");
        writeSetting(vmxkey::kIde01FileName, "store.vmdk");
    }
    state = kConfigured;
    supervision::setSuffixList(nullptr);
    return r;
}

void Cvmx::setMainWindow(WindowHandle window) {
    mainWindow = window;
    channelSetWindow(window);
}

int Cvmx::setComPort(const char* text) {
    const int n = comPortNumber(text);
    writeSetting(vmxkey::kComPort, n != 0 ? firstDigit(text) : nullptr);
    return serial.EnsureVirtualPort(n);
}

const char* Cvmx::displayProductName() const {
    return info.productName[0] != '\0' ? info.productName : info.productNameWritten;
}

const char* Cvmx::displayDeviceName() const {
    return info.deviceName[0] != '\0' ? info.deviceName : info.deviceNameWritten;
}

const char* Cvmx::displaySerialNumber() const {
    return info.serialNumber[0] != '\0' ? info.serialNumber : info.serialNumberWritten;
}

const char* Cvmx::addressText() const {
    static char text[16];
    unsigned char b[4];
    std::memcpy(b, &info.address, sizeof b); // network order: first part first
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

const char* Cvmx::quorvaneText() const {
    return state == kRunning && info.quorvaneText[0] != '\0' ? info.quorvaneText : nullptr;
}

const char* Cvmx::ostrelText() const {
    return state == kRunning && info.ostrelText[0] != '\0' ? info.ostrelText : nullptr;
}

std::string Cvmx::serialSettingsText() const {
    return ostrelText() != nullptr ? serial.SettingsText() : std::string();
}

std::string Cvmx::usbipDescription() const {
    return ostrelText() != nullptr ? usbip.description() : std::string();
}

void Cvmx::undoHostConfiguration() {
    serial.Start(nullptr);
    routes.removeAll();
    supervision::setSuffixList(nullptr);
}

int Cvmx::closeGeneric() {
    releaseProcesses();
    if (state > kConfigured) {
        state = kConfigured;
    }
    return 0;
}

void Cvmx::releaseProcessesGeneric() {
    if (state > kOpened) {
        state = kOpened;
    }
}

int Cvmx::prepareGeneric() {
    if (state < kOpened) {
        const int r = open();
        if (r != 0) {
            return r;
        }
    }
    if (backendType == kBackendVBox) {
        const int r = setUp();
        if (r != 0) {
            close();
            return r;
        }
    }
    state = kStopped;
    // A VM found running is polled at once rather than at the next timer tick.
    if (pollState(1, 0) == kStarting) {
        pollState(0, 1);
    }
    return 0;
}

int Cvmx::pollStateVmware(int checkVm, int queryAppliance,
                          const std::function<void()>& checkVmProcesses) {
    if (checkVm) {
        if (state < kStopped) {
            prepare();
        }
        checkVmProcesses();
        if (state < kStarting) {
            undoHostConfiguration();
        }
    }
    if (state >= kStarting && queryAppliance) {
        poll();
    }
    return state;
}

int Cvmx::pollStateVBox(int checkVm, int queryAppliance) {
    if (checkVm) {
        if (setUp() != 0) {
            close();
        }
        if (state < kStopped) {
            prepare();
        }
        if (state >= kStopped) {
            poll();
            queryAppliance = 0;
        }
    }
    if (state >= kStarting && queryAppliance) {
        poll();
    }
    return state;
}

} // namespace velmora::vm
