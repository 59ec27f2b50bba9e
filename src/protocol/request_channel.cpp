#include "protocol/request_channel.h"

#include <new>

#include "common/tick.h"

namespace velmora::protocol {

bool replyMatches(const Message& request, std::int32_t requestId, const Message& reply) {
    if (!request.mac().isAny() && !(request.mac() == reply.mac())) {
        return false;
    }
    if (((request.flags() ^ reply.flags()) & flags::kMatchMask) != 0) {
        return false;
    }
    const PduHeader* pdu = reply.pduHeader();
    return pdu == nullptr || (pdu->type == pdu::kResponse && pdu->requestId == requestId);
}

RequestChannel::RequestChannel(std::unique_ptr<ITransport> transport, Clock clock)
    : transport_(std::move(transport)), clock_(std::move(clock)) {}

std::uint64_t RequestChannel::now() const {
    return clock_ ? clock_() : velmora::tickMs();
}

void RequestChannel::setTarget(std::uint32_t address) {
    target_ = address;
    transport_->setTarget(address);
    addressWasSet_ = true;
}

int RequestChannel::send(std::unique_ptr<Message> request) {
    if (!request) {
        return kRawMalformed;
    }
    lastRequest_ = std::move(request);
    Message& message = *lastRequest_;
    if (target_ != kTargetUnknown || (addressWasSet_ && (counter_ & 1u) != 0)) {
        message.addFlags(flags::kDirected);
    }
    lastRequestId_ = static_cast<std::int32_t>(counter_);
    ++counter_;
    message.setKind(MessageKind::kRequest);
    if (!message.varbinds().empty() || message.hasPdu()) {
        message.setRequestId(lastRequestId_); // creates a get header when there is none
    }
    return transmit();
}

int RequestChannel::transmit() {
    transport_->suspendNotifications();
    std::unique_ptr<PacketBuffer> datagram;
    int rc = lastRequest_->build(&datagram);
    if (rc == kRawOk && transport_->send(*datagram) != kRawOk) {
        rc = kRawIoFailed;
    }
    if (rc != kRawOk) {
        // Nobody waits for a reply now, so the window must hear of datagrams again.
        transport_->resumeNotifications();
    }
    return rc;
}

int RequestChannel::receive(std::unique_ptr<Message>* reply) {
    if (!lastRequest_) {
        return kRawMalformed;
    }
    int attempts = target_ != kTargetUnknown ? 2 : 1;
    int rc = waitForReply(reply);
    while (rc == kRawTimeout) {
        if (--attempts == 0) {
            break;
        }
        transport_->reset();
        rc = transmit();
        if (rc != kRawOk) {
            return rc; // transmit resumed the notifications
        }
        rc = waitForReply(reply);
    }
    transport_->resumeNotifications();
    return rc;
}

int RequestChannel::waitForReply(std::unique_ptr<Message>* reply) {
    const std::uint32_t requestFlags = lastRequest_->flags();
    std::uint64_t limit = kWaitUndirectedMs;
    if (requestFlags & flags::kDirected) {
        limit = (requestFlags & flags::kBlock128) ? kWaitBlockMs : kWaitDirectedMs;
    }
    // 64-bit milliseconds: the deadline never wraps, so no wait ends early.
    const std::uint64_t deadline = now() + limit;
    for (;;) {
        std::unique_ptr<PacketBuffer> datagram;
        std::uint32_t source = 0;
        const int rc = transport_->receive(&datagram, &source);
        if (rc != kRawOk || !datagram) {
            const int error = rc != kRawOk ? rc : kRawIoFailed;
            if (error != kRawTimeout || now() >= deadline) {
                return error;
            }
            continue;
        }
        std::unique_ptr<Message> message;
        if (Message::parse(*datagram, source, &message) != kRawOk) {
            continue; // dropped; the deadline is looked at only after an empty receive
        }
        if (message->isRequest()) {
            continue;
        }
        if (message->isNotification()) {
            transport_->postNotification();
            continue;
        }
        if (replyMatches(*lastRequest_, lastRequestId_, *message)) {
            *reply = std::move(message);
            return kRawOk;
        }
    }
}

int initRequestChannel(std::unique_ptr<RequestChannel>* channel,
                       std::unique_ptr<ITransport> transport) {
    if (*channel) {
        return 1;
    }
    if (!transport) {
        return kRawMalformed;
    }
    channel->reset(new (std::nothrow) RequestChannel(std::move(transport)));
    return *channel ? kRawOk : kRawMalformed;
}

} // namespace velmora::protocol
