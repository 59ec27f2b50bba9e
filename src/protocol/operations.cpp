#include "protocol/operations.h"

#include <cstring>
#include <new>

namespace velmora::protocol {

namespace {

void copyText(char (&field)[kStatusTextSize], const char* text) {
    const std::size_t n = text != nullptr ? strnlen(text, kStatusTextSize - 1) : 0;
    if (n > 0) {
        std::memcpy(field, text, n);
    }
    field[n] = 0;
}

} // namespace

int mapStatus(int raw) {
    switch (raw) {
    case 0:
        return 0;
    case 2:
    case 3:
    case 4:
        return 1;
    case 6:
        return 2;
    case kRawNoMemory:
        return 5;
    default:
        return 3;
    }
}

int exchange(RequestChannel& channel, std::unique_ptr<Message> request,
             std::unique_ptr<Message>* reply) {
    if (!request) {
        return kRawNoMemory;
    }
    const int rc = channel.send(std::move(request));
    if (rc != kRawOk) {
        return rc;
    }
    return channel.receive(reply);
}

int requestStatus(RequestChannel& channel, const ApplianceMac& mac, StatusReply* out) {
    std::unique_ptr<Message> request(new (std::nothrow) Message);
    if (request) {
        request->setMac(mac);
        request->setFlags(flags::kDeviceName | flags::kProductName | flags::kFirmware);
    }
    std::unique_ptr<Message> reply;
    const int rc = exchange(channel, std::move(request), &reply);
    if (rc != kRawOk) {
        return mapStatus(rc);
    }
    copyText(out->product, reply->productName());
    copyText(out->firmware, reply->firmware());
    copyText(out->deviceName, reply->deviceName());
    out->address = reply->sourceAddress();
    out->flags = reply->flags();
    return 0;
}

int sendShutdown(RequestChannel& channel, const ApplianceMac& mac) {
    static constexpr std::uint8_t kVmware[3] = {0x00, 0x0C, 0x29};
    static constexpr std::uint8_t kVirtualBox[3] = {0x08, 0x00, 0x27};
    if (std::memcmp(mac.bytes.data(), kVmware, 3) != 0 &&
        std::memcmp(mac.bytes.data(), kVirtualBox, 3) != 0) {
        return kShutdownNotSent;
    }
    std::unique_ptr<Message> request(new (std::nothrow) Message);
    if (request) {
        request->setMac(mac);
        request->setFlags(flags::kAction);
    }
    std::unique_ptr<Message> reply;
    const int rc = exchange(channel, std::move(request), &reply);
    // An appliance that is already going down may not answer.
    return rc == kRawTimeout ? 0 : mapStatus(rc);
}

std::unique_ptr<Message> buildHostIdentityMessage(const ApplianceMac& mac, const char* hostName,
                                                  const std::uint8_t hostKey[16],
                                                  const std::uint8_t block[128],
                                                  std::uint32_t timeStamp, bool withPdu) {
    try {
        auto message = std::make_unique<Message>();
        message->setMac(mac);
        message->setText(hostName != nullptr ? hostName : "");
        message->setHostKey(hostKey);
        message->setBlock128(block);
        message->setTimeStamp(timeStamp);
        if (withPdu) {
            message->setPduType(pdu::kGet);
            message->setCommunity("", "");
            if (message->addNullVarbind(attribute::kIdentityPduQuery.group,
                                        attribute::kIdentityPduQuery.id) != kRawOk) {
                return nullptr;
            }
        }
        return message;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

int sendHostIdentity(RequestChannel& channel, std::unique_ptr<Message> identity) {
    std::unique_ptr<Message> reply;
    return mapStatus(exchange(channel, std::move(identity), &reply));
}

} // namespace velmora::protocol
