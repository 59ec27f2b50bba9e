// Appliance attributes: values named by (group, id), read and written one at a time inside the PDU
// of a request. Values the host reads are octet strings; it gives the capacity of its destination,
// receives the count stored and appends the terminating zero itself, so every destination has room
// for capacity + 1 bytes.
#pragma once
#include <cstdint>

#include "protocol/message.h"
#include "protocol/request_channel.h"

namespace velmora::protocol {

struct AttributeId {
    std::uint16_t group = 0;
    std::uint16_t id = 0;
};

namespace attribute {
inline constexpr AttributeId kSerialNumber{0x0200, 0x0280};
inline constexpr int kSerialNumberCapacity = 49;
inline constexpr AttributeId kRouteList1{0x0200, 0x02B8};
inline constexpr AttributeId kRouteList2{0x0200, 0x02B9};
inline constexpr int kRouteListCapacity = 10240;
inline constexpr AttributeId kQuorvaneStatus{0xF000, 0xF010};
inline constexpr int kQuorvaneStatusCapacity = 31;
inline constexpr AttributeId kOstrelConnection{0xF000, 0xF011};
inline constexpr int kOstrelConnectionCapacity = 127;
inline constexpr AttributeId kScriptCommand{0xF000, 0xF080};
inline constexpr int kScriptCommandCapacity = 511;
// Set to INTEGER 127 after the host identity was accepted.
inline constexpr AttributeId kIdentityAccepted{0xF000, 0xF090};
inline constexpr std::int32_t kIdentityAcceptedValue = 127;
inline constexpr AttributeId kSerialConfig{0xF000, 0xF091};
inline constexpr AttributeId kScriptAnswer{0xF000, 0xF092}; // set, octet string
inline constexpr AttributeId kUsbipConfig{0xF000, 0xF093};
inline constexpr AttributeId kLayer2Config{0xF000, 0xF094};
inline constexpr int kConfigCapacity = 1023;
// Asked for with a NULL value inside the identity request when the status reply wants it.
inline constexpr AttributeId kIdentityPduQuery{0x8800, 0x0320};
} // namespace attribute

// Reads an octet-string attribute: at most *length bytes into `destination`, the count stored in
// *length. Mapped status: 0; 1 unknown or refused; 3 no answer, malformed answer or a value that
// is not an octet string; 5 out of memory. On failure the destination and *length are unchanged.
int queryAttribute(RequestChannel& channel, const ApplianceMac& mac, std::uint16_t group,
                   std::uint16_t id, int* length, char* destination);
inline int queryAttribute(RequestChannel& channel, const ApplianceMac& mac, AttributeId attribute,
                          int* length, char* destination) {
    return queryAttribute(channel, mac, attribute.group, attribute.id, length, destination);
}

// Writes `length` bytes as an octet string; the mapped error status of the reply.
int setAttribute(RequestChannel& channel, const ApplianceMac& mac, std::uint16_t group,
                 std::uint16_t id, int length, const void* bytes);
// Writes a 32-bit value of an integer type (value::kInteger and the like); the mapped error
// status of the reply.
int setAttributeValue(RequestChannel& channel, const ApplianceMac& mac, std::uint16_t group,
                      std::uint16_t id, std::uint8_t type, std::int32_t value);

} // namespace velmora::protocol
