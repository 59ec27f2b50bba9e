// Cvmx: the one view the program has of the appliance's virtual machine, whichever product runs
// it. It owns the VMX path, what the status poll learnt (ApplianceInfo) and the host-side state the
// appliance configures (routes, serial port, USB/IP and layer-2 attachments), plus one state
// number the whole program reads. The backends CvmxPlayer, CvmxWorkstation and CvmxVBox derive
// from it as a virtual base.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "attach/layer2_attachment_set.h"
#include "attach/usbip_attachment_set.h"
#include "serial/serial_emulation.h"
#include "supervision/appliance_info.h"
#include "supervision/route_set.h"
#include "vm/vmx_file.h"

namespace velmora::vm {

// Ordered: operations compare states with < and >.
enum VmState : int {
    kCreated = 0,    // constructed
    kConfigured = 1, // configuration file loaded, protocol channel exists
    kOpened = 2,     // backend opened
    kStopped = 3,    // ready to start; the VM is not running
    kStarting = 4,   // the VM runs (or was just started) but the appliance has not answered
    kRunning = 5,    // the appliance answered the last status poll
};

inline constexpr int kBackendPlayer = 1;
inline constexpr int kBackendWorkstation = 2;
inline constexpr int kBackendVBox = kBackendTypeVBox; // 4

// Results (Windows error codes).
inline constexpr int kErrorBadFormat = 11;      // the VMX file lacks "config.version"
inline constexpr int kErrorNotStopped = 89;     // start while not Stopped
inline constexpr int kErrorNotInstalled = 1060; // the VM product is not installed
inline constexpr int kErrorNotActive = 1062;    // set-up incomplete; configure still succeeds
inline constexpr int kErrorChannel = 1359;      // the protocol channel could not be created

using WindowHandle = void*; // HWND on Windows

class Cvmx {
public:
    virtual ~Cvmx();
    Cvmx(const Cvmx&) = delete;
    Cvmx& operator=(const Cvmx&) = delete;

    // ---- Virtual operations, in slot order (Windows error codes, 0 = success) ----
    virtual int open() = 0;                                     // 0: bring to Opened
    virtual int close() = 0;                                    // 1: releaseProcesses; > 1 -> 1
    virtual int prepare() = 0;                                  // 2: bring to Stopped
    virtual void releaseProcesses() = 0;                        // 3: > 2 -> 2
    virtual int start(int showConsole) = 0;                     // 4: on success state 4; 89
    virtual int stop() = 0;                                     // 5: undo host config, stop VM
    virtual int pollState(int checkVm, int queryAppliance) = 0; // 6: returns state
    virtual int setUp() = 0;                                    // 7: find the product (1060)
    virtual int checkLink();          // 8: non-zero when the host has no path to the appliance
    virtual void onAppliancePolled(); // 9: right after a successful status request

    // Loads the configuration file; called once per backend at start-up. 0 (or 1062 from setUp),
    // 11 without "config.version", setUp's error, 1359 when the protocol channel exists already.
    int configure(const char* path);
    void setMainWindow(WindowHandle window);
    // The status poll. Called by pollState while the state is at least Starting and the appliance
    // is to be queried.
    int poll();

    // ---- The VMX file at vmxPath ----
    const char* readSetting(const char* key) { return vm::readSetting(vmxPath.c_str(), key); }
    int writeSetting(const char* key, const char* value) {
        return vm::writeSetting(vmxPath.c_str(), key, value);
    }
    // Fills info.mac (and, for VirtualBox, pipeName): 0 or 1228.
    int readApplianceMac(int type) {
        return vm::readApplianceMac(vmxPath.c_str(), type, info.mac.bytes.data(), pipeName);
    }
    int readVmUuid(std::uint8_t out[16]) {
        return vm::readVmUuid(vmxPath.c_str(), backendType, out);
    }
    int getConnectionType() { return vm::getConnectionType(vmxPath.c_str()); }
    int setConnectionType(int index) { return vm::setConnectionType(vmxPath.c_str(), index); }
    const char* getComPort() { return readSetting(vmxkey::kComPort); }
    // Stores the port text from its first digit (removes "comport" when the number is 0), then
    // renumbers the virtual port; EnsureVirtualPort's result.
    int setComPort(const char* text);

    // ---- Status display ----
    const char* displayProductName() const;
    const char* displayDeviceName() const;
    const char* displaySerialNumber() const;
    const char* firmware() const { return info.firmware; }
    // Dotted text of info.address in one static buffer, valid until the next call.
    const char* addressText() const;
    // Only while Running and not empty, else null.
    const char* quorvaneText() const;
    const char* ostrelText() const;
    // Only while Running with an Ostrel text; empty otherwise.
    std::string serialSettingsText() const;
    std::string usbipDescription() const;

    // Undoes what the appliance configured on the host: serial emulation stopped, every route
    // removed, the DNS suffix list restored. Used when the VM is found gone and by stop.
    void undoHostConfiguration();

    // ---- Fields (read by the shell, the status poll and the display) ----
    int state = kCreated;
    std::string vmxPath;
    std::string networkEditorCommand; // VMware backends; empty when none
    WindowHandle mainWindow = nullptr;
    supervision::ApplianceInfo info;
    supervision::RouteSet routes;
    serial::SerialEmulation serial;
    attach::UsbipAttachmentSet usbip;
    attach::Layer2AttachmentSet layer2;
    int backendType = 0;
    char pipeName[kPipeNameSize] = {}; // VirtualBox only; empty otherwise

protected:
    Cvmx() = default;

    // The shared parts of the backends' operations.
    int closeGeneric();
    void releaseProcessesGeneric();
    // Opened if needed, set-up again for VirtualBox, Stopped, then a first look for a running VM.
    int prepareGeneric();
    // VMware frame: prepare when below Stopped, checkVmProcesses (leaves 3 or raises to >= 4),
    // undo the host configuration when below Starting; then poll when >= 4 and asked.
    int pollStateVmware(int checkVm, int queryAppliance,
                        const std::function<void()>& checkVmProcesses);
    // VirtualBox frame: setUp (close on failure), prepare when below Stopped, poll once when at
    // least Stopped; then poll when >= 4 and asked and not polled yet.
    int pollStateVBox(int checkVm, int queryAppliance);
};

// The start-up choice: configure a VirtualBox, then a Player, then a Workstation backend with the
// path and keep the first that answers 0. result is 0 with the backend, or the last configure
// result (1060 when every product is missing) without one.
struct BackendChoice {
    std::unique_ptr<Cvmx> backend;
    int result = 0;
};
using BackendFactory = std::function<std::unique_ptr<Cvmx>()>;
BackendChoice chooseBackend(const char* path);
// The same over any list of backends, tried in order.
BackendChoice chooseBackend(const char* path, const BackendFactory* factories, std::size_t count);

} // namespace velmora::vm
