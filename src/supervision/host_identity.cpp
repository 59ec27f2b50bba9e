#include "supervision/host_identity.h"

#include <ctime>

#include "protocol/attributes.h"
#include "protocol/operations.h"
#include "vm/channel_link.h"
#include "vm/cvmx.h"

namespace velmora::supervision {

int sendIdentity(vm::Cvmx& cvmx, bool withPdu, IdentitySource& source) {
    // Pending until the appliance has answered, so any failure below is retried at the next poll.
    cvmx.info.identityPending = 1;

    std::string hostName;
    int r = source.readHostName(&hostName);
    if (r != 0) {
        return r;
    }
    const std::unique_ptr<IdentityCrypto> crypto = source.acquireCrypto();
    if (!crypto) {
        return kIdentityCryptoFailed;
    }
    std::uint8_t uuid[16];
    r = cvmx.readVmUuid(uuid);
    if (r != 0) {
        return r;
    }
    // The key ties this host name to this VM: no separators, no terminators.
    const ByteRange parts[] = {
        {hostName.data(), hostName.size()},
        {cvmx.vmxPath.data(), cvmx.vmxPath.size()},
        {uuid, sizeof uuid},
    };
    std::uint8_t hostKey[16];
    if (crypto->md5(parts, std::size(parts), hostKey) != 0) {
        return kIdentityCryptoFailed;
    }
    std::uint8_t block[128];
    if (crypto->random(block, sizeof block) != 0) {
        return kIdentityCryptoFailed;
    }

    protocol::RequestChannel* channel = vm::requestChannel();
    if (channel == nullptr) {
        return protocol::mapStatus(protocol::kRawIoFailed);
    }
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    r = protocol::sendHostIdentity(
        *channel, protocol::buildHostIdentityMessage(cvmx.info.mac, hostName.c_str(), hostKey,
                                                     block, now, withPdu));
    if (r != 0) {
        return r;
    }
    cvmx.info.identityPending = 0;
    // The appliance learns that the identity was taken; whether it stores that does not matter.
    protocol::setAttributeValue(
        *channel, cvmx.info.mac, protocol::attribute::kIdentityAccepted.group,
        protocol::attribute::kIdentityAccepted.id, protocol::value::kInteger,
        protocol::attribute::kIdentityAcceptedValue);
    return 0;
}

int sendIdentity(vm::Cvmx& cvmx, bool withPdu) {
    return sendIdentity(cvmx, withPdu, systemIdentitySource());
}

} // namespace velmora::supervision
