// The one request channel of the process: numbers requests, sends them over the transport and
// waits for the matching reply, resending once after a transport reset when a directed request
// went unanswered. Not locked: it is used from the main window's thread only.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>

#include "protocol/message.h"
#include "protocol/transport.h"

namespace velmora::protocol {

// How long a request waits for its reply, by its flags.
inline constexpr std::uint64_t kWaitUndirectedMs = 30; // no flags::kDirected
inline constexpr std::uint64_t kWaitDirectedMs = 1000;
inline constexpr std::uint64_t kWaitBlockMs = 5000; // directed with flags::kBlock128

// True when `reply` answers `request`: same MAC unless the request went to any appliance, equal
// flag bits flags::kMatchMask, and no PDU or a response PDU carrying `requestId`.
bool replyMatches(const Message& request, std::int32_t requestId, const Message& reply);

class RequestChannel {
public:
    // A monotonic millisecond clock; empty means velmora::tickMs.
    using Clock = std::function<std::uint64_t()>;

    explicit RequestChannel(std::unique_ptr<ITransport> transport, Clock clock = {});
    RequestChannel(const RequestChannel&) = delete;
    RequestChannel& operator=(const RequestChannel&) = delete;

    // Network order; kTargetUnknown for none.
    void setTarget(std::uint32_t address);
    std::uint32_t target() const { return target_; }
    void openPipe(const char* name) { transport_->openPipe(name); }
    void setWindow(void* window) { transport_->setWindow(window); }

    // Takes the request, numbers it (directed bit, PDU request id) and sends it; it stays the
    // last request until the next send. 0, the build result (1, 5, 20) or 21.
    int send(std::unique_ptr<Message> request);
    // Waits for the reply to the last request: 0 with the reply, or 5 (nothing sent), 20, 21, 22.
    int receive(std::unique_ptr<Message>* reply);

    std::uint32_t counter() const { return counter_; }
    const Message* lastRequest() const { return lastRequest_.get(); }
    ITransport& transport() { return *transport_; }

private:
    int transmit();
    int waitForReply(std::unique_ptr<Message>* reply);
    std::uint64_t now() const;

    std::unique_ptr<ITransport> transport_;
    Clock clock_;
    std::uint32_t counter_ = 0;
    std::uint32_t target_ = kTargetUnknown;
    bool addressWasSet_ = false;
    std::unique_ptr<Message> lastRequest_;
    std::int32_t lastRequestId_ = 0;
};

// Creates the channel over `transport` unless one exists: 0, 1 (it existed already) or 5 (no
// transport or no memory).
int initRequestChannel(std::unique_ptr<RequestChannel>* channel,
                       std::unique_ptr<ITransport> transport);
#ifdef _WIN32
// The same over the Winsock transport with an unknown target.
int initRequestChannel(std::unique_ptr<RequestChannel>* channel);
#endif

} // namespace velmora::protocol
