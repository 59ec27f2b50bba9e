#include "vm/channel_link.h"

namespace velmora::vm {

// Stands in for the request channel until the protocol layer provides it: only the "exists
// already" rule is kept, so that a second configure without a destroy still fails.
namespace {
bool channelExists = false;
}

int channelInit() {
    if (channelExists) {
        return 1;
    }
    channelExists = true;
    return 0;
}

void channelDestroy() {
    channelExists = false;
}

void channelSetWindow(void*) {}

} // namespace velmora::vm
