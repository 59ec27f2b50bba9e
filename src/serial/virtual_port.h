// The virtual COM port pair that serial emulation bridges. An interface so that a machine without
// the port driver (and tests) can stand in for it.
#pragma once

namespace velmora::serial {

class VirtualPort {
public:
    virtual ~VirtualPort() = default;
    // COM number of the visible end, 0 when no pair exists or it cannot be read.
    virtual int GetVirtualPortNumber() = 0;
    // Makes sure a pair exists (n = 0) or renumbers it to COM n; the COM number afterwards.
    virtual int EnsureVirtualPort(int n) = 0;
};

// The program's real port pair.
VirtualPort& systemVirtualPort();

} // namespace velmora::serial
