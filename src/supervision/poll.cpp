#include "supervision/poll.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "protocol/attributes.h"
#include "protocol/operations.h"
#include "supervision/dns_suffix.h"
#include "supervision/script_command.h"
#include "vm/channel_link.h"
#include "vm/cvmx.h"

namespace velmora::supervision {

namespace {

namespace attr = protocol::attribute;

// Bits of the status reply's flag word: the appliance wants the identity again, and wants it with
// the 0x8800/0x0320 query.
constexpr std::uint32_t kIdentityWanted = 0x00020000;
constexpr std::uint32_t kIdentityWithQuery = 0x40000000;

// Keeps the protocol's socket notifications away from the main window while the poll waits for
// replies, so they cannot re-enter the window procedure; binds the window again on every exit.
class WindowDetached {
public:
    explicit WindowDetached(void* window) : window_(window) {
        if (window_ != nullptr) {
            vm::channelSetWindow(nullptr);
        }
    }
    ~WindowDetached() {
        if (window_ != nullptr) {
            vm::channelSetWindow(window_);
        }
    }
    WindowDetached(const WindowDetached&) = delete;
    WindowDetached& operator=(const WindowDetached&) = delete;

private:
    void* window_;
};

// Queries an octet-string attribute into a text field with capacity one less than its size and
// terminates it at the returned length. On failure the field is left as it was.
template <std::size_t N>
int queryText(protocol::RequestChannel& channel, const protocol::ApplianceMac& mac,
              protocol::AttributeId id, char (&field)[N]) {
    int length = static_cast<int>(N - 1);
    const int r = protocol::queryAttribute(channel, mac, id, &length, field);
    if (r == 0) {
        field[length] = '\0';
    }
    return r;
}

// Writes a value the appliance reported into its VMX key when it differs from what was last
// written there; the written copy follows only when the value can be stored.
template <std::size_t N>
void writeIfChanged(vm::Cvmx& cvmx, const char* key, const char* current, char (&written)[N]) {
    if (std::strcmp(current, written) == 0 || !isStorableSettingValue(current)) {
        return;
    }
    copyText(written, current);
    cvmx.writeSetting(key, written);
}

void emptyConfigurations(ApplianceInfo& info) {
    info.serialConfig[0] = '\0';
    info.usbipConfig[0] = '\0';
    info.layer2Config[0] = '\0';
}

// Step 9: the status texts and, while the Ostrel connection is up, the three configurations.
void fetchTexts(protocol::RequestChannel& channel, ApplianceInfo& info) {
    if (queryText(channel, info.mac, attr::kQuorvaneStatus, info.quorvaneText) != 0) {
        info.quorvaneText[0] = '\0';
        info.ostrelText[0] = '\0';
        emptyConfigurations(info);
        return;
    }
    if (queryText(channel, info.mac, attr::kOstrelConnection, info.ostrelText) != 0) {
        info.ostrelText[0] = '\0';
        emptyConfigurations(info);
        return;
    }
    if (info.ostrelText[0] == '\0') {
        emptyConfigurations(info);
        return;
    }
    for (auto [id, field] : {std::pair{attr::kSerialConfig, info.serialConfig},
                             std::pair{attr::kUsbipConfig, info.usbipConfig},
                             std::pair{attr::kLayer2Config, info.layer2Config}}) {
        int length = attr::kConfigCapacity;
        if (protocol::queryAttribute(channel, info.mac, id, &length, field) == 0) {
            field[length] = '\0';
        } else {
            field[0] = '\0';
        }
    }
}

} // namespace

bool isStorableSettingValue(const char* value) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p != 0; ++p) {
        if (*p == '"' || *p < 0x20 || *p == 0x7F) {
            return false;
        }
    }
    return true;
}

int pollAppliance(vm::Cvmx& cvmx, const PollServices& services) {
    ApplianceInfo& info = cvmx.info;
    const WindowDetached detached(cvmx.mainWindow);
    protocol::RequestChannel* channel = vm::requestChannel();

    // While the appliance is not known to run, its MAC (and VirtualBox's pipe) may have changed.
    if (cvmx.state < vm::kRunning) {
        cvmx.readApplianceMac(cvmx.backendType);
        if (channel != nullptr && cvmx.pipeName[0] != '\0') {
            channel->openPipe(cvmx.pipeName);
        }
    }

    protocol::StatusReply reply;
    int r = channel != nullptr ? protocol::requestStatus(*channel, info.mac, &reply)
                               : protocol::mapStatus(protocol::kRawIoFailed);
    if (r == 0) {
        copyText(info.productName, reply.product);
        copyText(info.firmware, reply.firmware);
        copyText(info.deviceName, reply.deviceName);
        info.address = reply.address;
    }
    if (r != 0 || cvmx.checkLink() != 0) {
        // The appliance is gone (or out of reach): forget where it was and undo what it set up.
        if (channel != nullptr) {
            channel->setTarget(protocol::kTargetUnknown);
        }
        info.identityPending = 1;
        if (cvmx.state == vm::kRunning) {
            cvmx.state = vm::kStarting;
        }
        cvmx.serial.Start(nullptr);
        cvmx.routes.removeAll();
        if (services.setSuffixList) {
            services.setSuffixList(nullptr);
        } else {
            setSuffixList(nullptr);
        }
        return r;
    }

    cvmx.onAppliancePolled();
    channel->setTarget(info.address);
    cvmx.state = vm::kRunning;

    if (info.identityPending != 0 || (reply.flags & kIdentityWanted) != 0) {
        const bool withPdu = (reply.flags & kIdentityWithQuery) != 0;
        r = services.identity != nullptr ? sendIdentity(cvmx, withPdu, *services.identity)
                                         : sendIdentity(cvmx, withPdu);
        if (r != 0) {
            return r;
        }
        if (queryText(*channel, info.mac, attr::kSerialNumber, info.serialNumber) == 0) {
            writeIfChanged(cvmx, vm::vmxkey::kApplianceSerialNo, info.serialNumber,
                           info.serialNumberWritten);
        }
    }
    writeIfChanged(cvmx, vm::vmxkey::kApplianceHostname, info.deviceName, info.deviceNameWritten);
    writeIfChanged(cvmx, vm::vmxkey::kApplianceProductName, info.productName,
                   info.productNameWritten);

    cvmx.routes.synchronise(info.address, info.mac.bytes.data(), &cvmx);

    fetchTexts(*channel, info);

    // A configuration that needs the appliance's networks waits until a route to them exists;
    // an empty one always goes through, so its owner stops.
    int installed = 0;
    cvmx.routes.installedRoutes(&installed);
    const auto handOver = [installed](const char* config) {
        return config[0] == '\0' || installed > 0;
    };
    if (handOver(info.serialConfig)) {
        cvmx.serial.Start(info.serialConfig);
    }
    if (handOver(info.usbipConfig)) {
        cvmx.usbip.apply(info.usbipConfig);
    }
    if (handOver(info.layer2Config)) {
        cvmx.layer2.apply(info.layer2Config);
    }

    char script[attr::kScriptCommandCapacity + 1];
    int length = attr::kScriptCommandCapacity;
    if (protocol::queryAttribute(*channel, info.mac, attr::kScriptCommand, &length, script) == 0 &&
        length > 0) {
        script[length] = '\0';
        if (services.runScript) {
            services.runScript(cvmx, script);
        } else {
            runScriptCommand(cvmx, script);
        }
    }
    return 0;
}

} // namespace velmora::supervision

namespace velmora::vm {

int Cvmx::poll() {
    return supervision::pollAppliance(*this, supervision::PollServices{});
}

} // namespace velmora::vm
