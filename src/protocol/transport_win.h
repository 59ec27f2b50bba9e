// The Winsock transport: UDP port 8888 on every qualifying interface while the appliance's address
// is unknown (broadcast), the fallback socket towards a known address, and the optional named-pipe
// tunnel to the virtual machine. Windows only; the request channel sees it as an ITransport.
#pragma once
#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "common/unique_handle.h"
#include "protocol/interface_choice.h"
#include "protocol/transport.h"

namespace velmora::protocol {

// Reads the host's IPv4 adapter table; false when it cannot be read (then no interface sockets are
// opened). `includePrefix` asks for the prefixes too, which only the known-target rule needs.
using AdapterSource =
    std::function<bool(bool includePrefix, std::vector<AdapterDescription>* adapters)>;

// GetAdaptersAddresses, found by name in iphlpapi.dll.
bool readAdaptersFromIpHelper(bool includePrefix, std::vector<AdapterDescription>* adapters);

// "a.b.c.d" of an address in network order; `out` holds at least 16 bytes.
const char* formatIpv4(std::uint32_t address, char out[16]);

class WinsockTransport final : public ITransport {
public:
    // An empty source reads the real adapter table.
    explicit WinsockTransport(std::uint32_t target, AdapterSource adapters = {});
    ~WinsockTransport() override;
    WinsockTransport(const WinsockTransport&) = delete;
    WinsockTransport& operator=(const WinsockTransport&) = delete;

    int send(const PacketBuffer& datagram) override;
    int receive(std::unique_ptr<PacketBuffer>* datagram, std::uint32_t* source) override;
    void reset() override;
    void setTarget(std::uint32_t address) override;
    void openPipe(const char* name) override;
    void setWindow(void* window) override;
    void suspendNotifications() override;
    void resumeNotifications() override;
    void postNotification() override;

    // What the transport holds, for diagnostics and tests.
    std::uint32_t target() const { return target_; }
    HWND window() const { return window_; }
    SOCKET fallbackSocket() const { return fallback_.get(); }
    std::size_t interfaceSocketCount() const { return interfaces_.size(); }
    SOCKET interfaceSocket(std::size_t i) const { return interfaces_[i].get(); }
    bool pipeOpen() const { return pipe_.valid(); }
    std::uint32_t packetCounter() const { return packetCounter_; }
    // The event the address-change notification signals. The transport only ever looks at it, so
    // a host that never signals it (Wine) can have it set from outside to force a rebuild.
    HANDLE addressChangeEvent() const { return addressChange_.get(); }

private:
    void init(std::uint32_t target);
    void close();
    void armAddressChange();
    void cancelAddressChange();
    void chooseInterfaces();
    void closeInterfaceSockets();
    unique_socket openSocket(std::uint32_t address);
    std::vector<SOCKET> allSockets() const;
    void drain();
    bool readPipe(std::unique_ptr<PacketBuffer>* datagram, std::uint32_t* source, int* result);
    void discardRestOfPipeMessage();

    AdapterSource adapters_;
    bool initialised_ = false;
    bool winsockStarted_ = false;
    std::uint32_t target_ = kTargetUnknown;
    HWND window_ = nullptr;
    unique_socket fallback_;
    std::vector<unique_socket> interfaces_;
    unique_hfile pipe_;
    std::uint32_t packetCounter_ = 0;
    unique_handle addressChange_;
    // Handed to NotifyAddrChange; it must outlive the pending request, so it is only freed after
    // a successful cancel (or once the request completed).
    OVERLAPPED* notifyOverlapped_ = nullptr;
    HANDLE notifyHandle_ = nullptr; // owned by the system, never closed here
};

} // namespace velmora::protocol
#endif
