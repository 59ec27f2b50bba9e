#include "vm/channel_link.h"

#include <utility>

namespace velmora::vm {

namespace {

class OfflineTransport final : public protocol::ITransport {
public:
    int send(const protocol::PacketBuffer&) override { return protocol::kRawIoFailed; }
    int receive(std::unique_ptr<protocol::PacketBuffer>*, std::uint32_t*) override {
        return protocol::kRawTimeout;
    }
    void reset() override {}
    void setTarget(std::uint32_t) override {}
    void openPipe(const char*) override {}
    void setWindow(void*) override {}
    void suspendNotifications() override {}
    void resumeNotifications() override {}
    void postNotification() override {}
};

// Program-wide by design: one channel per process.
std::unique_ptr<protocol::RequestChannel>& channelSlot() {
    static std::unique_ptr<protocol::RequestChannel> channel;
    return channel;
}

TransportFactory& factorySlot() {
    static TransportFactory factory;
    return factory;
}

} // namespace

int channelInit() {
    std::unique_ptr<protocol::RequestChannel>& channel = channelSlot();
    if (channel) {
        return 1;
    }
    const TransportFactory& factory = factorySlot();
    std::unique_ptr<protocol::ITransport> transport =
        factory ? factory() : std::make_unique<OfflineTransport>();
    return protocol::initRequestChannel(&channel, std::move(transport));
}

void channelDestroy() {
    channelSlot().reset();
}

void channelSetWindow(void* window) {
    if (protocol::RequestChannel* channel = channelSlot().get()) {
        channel->setWindow(window);
    }
}

protocol::RequestChannel* requestChannel() {
    return channelSlot().get();
}

void setChannelTransportFactory(TransportFactory factory) {
    factorySlot() = std::move(factory);
}

} // namespace velmora::vm
