// Parses arbitrary bytes as an appliance datagram from an exactly sized buffer (so ASan sees any
// read past it), and builds again whatever parsed: the rebuilt datagram must parse, and building
// that must give the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "protocol/message.h"

using namespace velmora::protocol;

namespace {

// An OID whose first two arcs add up to 128 or more is written with a longer first
// sub-identifier than it was read with, so such messages do not come back byte for byte.
bool firstArcsFit(const Oid& oid) {
    return oid.count < 2 || oid.arcs[1] + 40u * oid.arcs[0] < 128;
}

bool stableOids(const Message& message) {
    for (const Varbind& varbind : message.varbinds()) {
        if (!firstArcsFit(varbind.name) ||
            (varbind.type == value::kObjectId && !firstArcsFit(varbind.oid))) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 65536) {
        return 0;
    }
    std::unique_ptr<Message> message;
    if (Message::parse(data, static_cast<int>(size), 0, &message) != kRawOk) {
        return 0;
    }
    std::unique_ptr<PacketBuffer> first;
    if (message->build(&first) != kRawOk || !stableOids(*message)) {
        return 0;
    }
    std::unique_ptr<Message> again;
    if (Message::parse(first->data(), static_cast<int>(first->remaining()), 0, &again) != kRawOk) {
        std::abort(); // what we build, we must be able to read
    }
    std::unique_ptr<PacketBuffer> second;
    if (again->build(&second) != kRawOk || second->remaining() != first->remaining() ||
        std::memcmp(second->data(), first->data(), first->remaining()) != 0) {
        std::abort();
    }
    // Taking values out must stay within the destination it is given.
    std::uint32_t arcs[kMaxOidArcs];
    while (!again->varbinds().empty()) {
        int length = kMaxOidArcs;
        again->takeFirstValue(0, arcs, &length);
    }
    return 0;
}
