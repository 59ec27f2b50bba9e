#include "attach/layer2_attachment_set.h"

namespace velmora::attach {

// Adapters and bridges are not set up yet; the set only remembers what was applied.
int Layer2AttachmentSet::apply(const char* config) {
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

void Layer2AttachmentSet::clear() {
    applied_.clear();
}

} // namespace velmora::attach
