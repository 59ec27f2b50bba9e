#include "protocol/request_channel.h"

namespace velmora::protocol {

int initRequestChannel(std::unique_ptr<RequestChannel>* channel) {
    if (*channel) {
        return 1;
    }
    return initRequestChannel(channel, createWinsockTransport(kTargetUnknown));
}

} // namespace velmora::protocol
