#include "protocol/attributes.h"

#include <new>

#include "protocol/operations.h"

namespace velmora::protocol {

namespace {

std::unique_ptr<Message> attributeRequest(const ApplianceMac& mac, std::uint8_t pduType) {
    std::unique_ptr<Message> request(new (std::nothrow) Message);
    if (request) {
        request->setMac(mac);
        request->setPduType(pduType);
        request->setCommunity("", "");
    }
    return request;
}

// Sends the request and maps the reply's error status.
int setExchange(RequestChannel& channel, std::unique_ptr<Message> request, int added) {
    if (!request) {
        return mapStatus(kRawNoMemory);
    }
    if (added != kRawOk) {
        return mapStatus(added);
    }
    std::unique_ptr<Message> reply;
    const int rc = exchange(channel, std::move(request), &reply);
    return mapStatus(rc != kRawOk ? rc : reply->errorStatus());
}

} // namespace

int queryAttribute(RequestChannel& channel, const ApplianceMac& mac, std::uint16_t group,
                   std::uint16_t id, int* length, char* destination) {
    if (length == nullptr || destination == nullptr) {
        return mapStatus(kRawMalformed);
    }
    std::unique_ptr<Message> request = attributeRequest(mac, pdu::kGet);
    if (!request) {
        return mapStatus(kRawNoMemory);
    }
    const int added = request->addNullVarbind(group, id);
    if (added != kRawOk) {
        return mapStatus(added);
    }
    std::unique_ptr<Message> reply;
    int rc = exchange(channel, std::move(request), &reply);
    if (rc != kRawOk) {
        return mapStatus(rc);
    }
    rc = reply->errorStatus();
    if (rc != 0) {
        return mapStatus(rc);
    }
    return mapStatus(reply->takeFirstValue(value::kOctetString, destination, length));
}

int setAttribute(RequestChannel& channel, const ApplianceMac& mac, std::uint16_t group,
                 std::uint16_t id, int length, const void* bytes) {
    std::unique_ptr<Message> request = attributeRequest(mac, pdu::kSet);
    const int added = request ? request->addOctetsVarbind(group, id, bytes, length) : kRawOk;
    return setExchange(channel, std::move(request), added);
}

int setAttributeValue(RequestChannel& channel, const ApplianceMac& mac, std::uint16_t group,
                      std::uint16_t id, std::uint8_t type, std::int32_t value) {
    std::unique_ptr<Message> request = attributeRequest(mac, pdu::kSet);
    const int added = request ? request->addIntegerVarbind(group, id, type, value) : kRawOk;
    return setExchange(channel, std::move(request), added);
}

} // namespace velmora::protocol
