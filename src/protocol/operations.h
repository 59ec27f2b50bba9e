// The protocol operations the rest of the program calls. Each builds a fresh request, hands it to
// the request channel (which keeps it as the last request), waits for the reply and frees it.
// Results are the mapped status unless said otherwise.
#pragma once
#include <cstdint>
#include <memory>

#include "protocol/attributes.h"
#include "protocol/message.h"
#include "protocol/request_channel.h"

namespace velmora::protocol {

// Mapped status: raw 0 -> 0; 2, 3, 4 (noSuchName, badValue, readOnly) -> 1; 6 -> 2;
// 20 (out of memory) -> 5; anything else -> 3.
int mapStatus(int raw);

// Sends `request` and waits for its reply: the raw result (0, 1, 5, 20, 21, 22).
int exchange(RequestChannel& channel, std::unique_ptr<Message> request,
             std::unique_ptr<Message>* reply);

inline constexpr int kStatusTextSize = 100; // at most 99 characters and the zero

struct StatusReply {
    char product[kStatusTextSize] = {};
    char firmware[kStatusTextSize] = {};
    char deviceName[kStatusTextSize] = {};
    std::uint32_t address = 0; // the reply's source, network order
    std::uint32_t flags = 0;   // the reply's flag word
};

// Status request (flags 0x380, no PDU). On failure `out` is unchanged.
int requestStatus(RequestChannel& channel, const ApplianceMac& mac, StatusReply* out);

// Asks the appliance to shut down (flags 0x1 only). 0 when answered or when no answer came;
// 6 without sending when the MAC is not a VMware (00 0C 29) or VirtualBox (08 00 27) one.
inline constexpr int kShutdownNotSent = 6;
int sendShutdown(RequestChannel& channel, const ApplianceMac& mac);

// The host identity request: host name as text, the 16-byte host key, 128 random bytes and the
// time stamp; with `withPdu` also a get PDU (community ":") asking for 0x8800/0x0320 with a NULL
// value. Null only when memory runs out.
std::unique_ptr<Message> buildHostIdentityMessage(const ApplianceMac& mac, const char* hostName,
                                                  const std::uint8_t hostKey[16],
                                                  const std::uint8_t block[128],
                                                  std::uint32_t timeStamp, bool withPdu);
// Sends it and waits (5000 ms, it carries the 128-byte block). The reply's error status is not
// examined: an answer is success.
int sendHostIdentity(RequestChannel& channel, std::unique_ptr<Message> identity);

} // namespace velmora::protocol
