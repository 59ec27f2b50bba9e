// Serial port emulation owned by a VM backend: the configuration string last given to Start and
// the session it created.
#pragma once
#include <string>

#include "serial/virtual_port.h"

namespace velmora::serial {

class SerialEmulation {
public:
    explicit SerialEmulation(VirtualPort& port = systemVirtualPort()) : port_(&port) {}
    ~SerialEmulation() { Stop(); }
    SerialEmulation(const SerialEmulation&) = delete;
    SerialEmulation& operator=(const SerialEmulation&) = delete;

    // 0 on success or when nothing changes, -1 on a bad string or no virtual port, -2 when the
    // port could not be opened or the worker not created. Null or empty: Stop, 0.
    int Start(const char* config);
    // Ends the session, if any, and drops the held string.
    void Stop();
    // One line for the status report while a session is connected; empty when there is none.
    std::string SettingsText() const;

    int GetVirtualPortNumber() { return port_->GetVirtualPortNumber(); }
    int EnsureVirtualPort(int n) { return port_->EnsureVirtualPort(n); }
    // Replaces the port pair (tests, machines without the driver). The port must outlive this.
    void setVirtualPort(VirtualPort& port) { port_ = &port; }

private:
    VirtualPort* port_;
    std::string config_; // the held configuration string; empty when none
};

} // namespace velmora::serial
