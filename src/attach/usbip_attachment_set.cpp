#include "attach/usbip_attachment_set.h"

namespace velmora::attach {

// Attachments are not started yet; the set only remembers what was applied.
int UsbipAttachmentSet::apply(const char* config) {
    if (config == nullptr || config[0] == '\0') {
        clear();
        return 0;
    }
    if (applied_ == config) {
        return 0;
    }
    clear();
    applied_ = config;
    return 0;
}

void UsbipAttachmentSet::clear() {
    applied_.clear();
}

} // namespace velmora::attach
