#include "serial/virtual_port.h"

namespace velmora::serial {

namespace {
// No port pair can be created yet: every request answers "no port" (0).
class UnavailableVirtualPort final : public VirtualPort {
public:
    int GetVirtualPortNumber() override { return 0; }
    int EnsureVirtualPort(int) override { return 0; }
};
} // namespace

VirtualPort& systemVirtualPort() {
    static UnavailableVirtualPort port;
    return port;
}

} // namespace velmora::serial
