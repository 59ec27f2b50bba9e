// The appliance simulator's responder as an in-process transport: every datagram the program's
// request channel sends is answered at once by a simulated appliance, and everything is recorded.
// A datagram the appliance leaves unanswered (or any datagram while it is off) ends the wait at
// once with a failed receive, so no test waits for a real timeout.
#pragma once
#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "protocol/message.h"
#include "protocol/transport.h"
#include "responder.h"
#include "vm/link_check.h"

namespace velmora::supervision::testing {

// What the appliance side holds and sees; owned by the test, shared with the transport.
struct LoopbackAppliance {
    explicit LoopbackAppliance(sim::SimConfig config) : responder(std::move(config)) {}

    sim::Responder responder;
    std::uint32_t address = vm::ipv4(198, 18, 0, 2);
    std::uint32_t hostAddress = vm::ipv4(198, 18, 0, 1);
    bool off = false;

    // Every request the host sent, parsed, and the simulator's log lines.
    std::vector<std::unique_ptr<protocol::Message>> requests;
    std::vector<std::string> log;
    // The transport's own calls.
    std::vector<std::uint32_t> targets;
    std::vector<void*> windows;
    std::vector<std::string> pipes;

    std::deque<std::vector<std::uint8_t>> pending;

    // Requests since `from`, by the simulator's kind ("status", "identity", "get", "set").
    std::vector<const protocol::Message*> sent(std::size_t from = 0) const {
        std::vector<const protocol::Message*> out;
        for (std::size_t i = from; i < requests.size(); ++i) {
            out.push_back(requests[i].get());
        }
        return out;
    }
};

class LoopbackTransport final : public protocol::ITransport {
public:
    explicit LoopbackTransport(LoopbackAppliance* appliance) : appliance_(appliance) {}

    int send(const protocol::PacketBuffer& datagram) override {
        std::unique_ptr<protocol::Message> parsed;
        protocol::Message::parse(datagram.data(), static_cast<int>(datagram.remaining()),
                                 appliance_->hostAddress, &parsed);
        appliance_->requests.push_back(std::move(parsed));
        if (appliance_->off) {
            return protocol::kRawOk;
        }
        sim::Outcome outcome =
            appliance_->responder.handle(datagram.data(), static_cast<int>(datagram.remaining()),
                                         appliance_->hostAddress, "198.18.0.2");
        for (std::string& line : outcome.log) {
            appliance_->log.push_back(std::move(line));
        }
        if (!outcome.reply.empty()) {
            appliance_->pending.push_back(std::move(outcome.reply));
        }
        return protocol::kRawOk;
    }
    int receive(std::unique_ptr<protocol::PacketBuffer>* datagram, std::uint32_t* source) override {
        if (appliance_->pending.empty()) {
            return protocol::kRawIoFailed;
        }
        const std::vector<std::uint8_t> bytes = std::move(appliance_->pending.front());
        appliance_->pending.pop_front();
        auto buffer = protocol::PacketBuffer::create(static_cast<int>(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), buffer->start());
        *datagram = std::move(buffer);
        *source = appliance_->address;
        return protocol::kRawOk;
    }
    void reset() override {}
    void setTarget(std::uint32_t address) override { appliance_->targets.push_back(address); }
    void openPipe(const char* name) override { appliance_->pipes.push_back(name); }
    void setWindow(void* window) override { appliance_->windows.push_back(window); }
    void suspendNotifications() override {}
    void resumeNotifications() override {}
    void postNotification() override {}

private:
    LoopbackAppliance* appliance_;
};

} // namespace velmora::supervision::testing
