// A scripted transport for request-channel tests. Receives play a queue of datagrams and errors;
// an empty queue (or a scripted 22) is a receive window that passed in silence and moves the fake
// clock on by 100 ms, as the real transport's select does. Everything the channel asks for is
// recorded.
#pragma once
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "protocol/message.h"
#include "protocol/transport.h"

namespace velmora::protocol::testing {

using Bytes = std::vector<std::uint8_t>;

struct FakeClock {
    std::uint64_t now = 1000;
};

class FakeTransport : public ITransport {
public:
    struct Event {
        int result = kRawOk;
        Bytes datagram;
        std::uint32_t source = 0;
    };

    explicit FakeTransport(FakeClock* clock) : clock_(clock) {}

    void queueDatagram(const Bytes& bytes, std::uint32_t source = 0x0200A8C0u) {
        events.push_back({kRawOk, bytes, source});
    }
    void queueMessage(Message& message, std::uint32_t source = 0x0200A8C0u) {
        std::unique_ptr<PacketBuffer> buffer;
        if (message.build(&buffer) == kRawOk) {
            queueDatagram(Bytes(buffer->data(), buffer->data() + buffer->remaining()), source);
        }
    }
    void queueError(int result) { events.push_back({result, {}, 0}); }

    int send(const PacketBuffer& datagram) override {
        sent.emplace_back(datagram.data(), datagram.data() + datagram.remaining());
        log += "send;";
        if (onSend) {
            onSend(sent.size() - 1, sent.back());
        }
        return sendResult;
    }
    int receive(std::unique_ptr<PacketBuffer>* datagram, std::uint32_t* source) override {
        ++receives;
        if (events.empty()) {
            clock_->now += 100;
            return kRawTimeout;
        }
        Event event = std::move(events.front());
        events.pop_front();
        if (event.result != kRawOk) {
            if (event.result == kRawTimeout) {
                clock_->now += 100;
            }
            return event.result;
        }
        clock_->now += 1;
        auto buffer = PacketBuffer::create(static_cast<int>(event.datagram.size()));
        if (!event.datagram.empty()) {
            std::memcpy(buffer->start(), event.datagram.data(), event.datagram.size());
        }
        *datagram = std::move(buffer);
        *source = event.source;
        return kRawOk;
    }
    void reset() override {
        ++resets;
        log += "reset;";
    }
    void setTarget(std::uint32_t address) override { targets.push_back(address); }
    void openPipe(const char* name) override { pipes.push_back(name); }
    void setWindow(void* window) override { this->window = window; }
    void suspendNotifications() override { log += "suspend;"; }
    void resumeNotifications() override { log += "resume;"; }
    void postNotification() override { ++posts; }

    std::deque<Event> events;
    std::vector<Bytes> sent;
    std::function<void(std::size_t index, const Bytes& datagram)> onSend;
    int sendResult = kRawOk;
    int receives = 0;
    int resets = 0;
    int posts = 0;
    std::vector<std::uint32_t> targets;
    std::vector<std::string> pipes;
    void* window = nullptr;
    std::string log;

private:
    FakeClock* clock_;
};

} // namespace velmora::protocol::testing
