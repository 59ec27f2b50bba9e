// What the request channel needs from the datagram transport. The Winsock transport implements it;
// portable tests drive the channel with a scripted one.
#pragma once
#include <cstdint>
#include <memory>

#include "protocol/packet_buffer.h"

namespace velmora::protocol {

// Raw results inside the protocol layer.
enum RawResult : int {
    kRawOk = 0,
    kRawHeaderEncoding = 1,
    kRawMalformed = 5,
    kRawNoMemory = 20,
    kRawIoFailed = 21,
    kRawTimeout = 22,
};

inline constexpr std::uint32_t kTargetUnknown = 0xFFFFFFFFu; // 255.255.255.255, network order
inline constexpr std::uint16_t kAppliancePort = 8888;
inline constexpr unsigned kWmAppliance = 41656; // 0xA2B8

class ITransport {
public:
    virtual ~ITransport() = default;
    // Sends the bytes [cursor, end) of the buffer: 0, or 21 when every path failed.
    virtual int send(const PacketBuffer& datagram) = 0;
    // Waits at most 100 ms for one datagram: 0 (buffer and IPv4 source in network order), 21, 22.
    virtual int receive(std::unique_ptr<PacketBuffer>* datagram, std::uint32_t* source) = 0;
    virtual void reset() = 0;
    virtual void setTarget(std::uint32_t address) = 0; // network order, kTargetUnknown for none
    virtual void openPipe(const char* name) = 0;
    virtual void setWindow(void* window) = 0; // HWND on Windows
    virtual void suspendNotifications() = 0;
    virtual void resumeNotifications() = 0;
    virtual void postNotification() = 0;
};

} // namespace velmora::protocol

namespace velmora::protocol {
// The Winsock transport (Windows builds only); target in network order or kTargetUnknown.
std::unique_ptr<ITransport> createWinsockTransport(std::uint32_t target);
} // namespace velmora::protocol
