// TAP adapters bridged to remote layer-2 networks, one supervised bridge process per entry of
// the appliance's layer-2 configuration. One set per VM backend.
#pragma once
#include <string>

namespace velmora::attach {

class Layer2AttachmentSet {
public:
    Layer2AttachmentSet() = default;
    ~Layer2AttachmentSet() { clear(); }
    Layer2AttachmentSet(const Layer2AttachmentSet&) = delete;
    Layer2AttachmentSet& operator=(const Layer2AttachmentSet&) = delete;

    // Applies the configuration text: empty removes everything, an unchanged text does nothing,
    // a new one replaces every attachment. Always 0.
    int apply(const char* config);
    // Stops and removes every attachment and forgets the applied text.
    void clear();
    // The applied configuration text for the status report; empty when nothing is applied.
    std::string description() const { return applied_; }

private:
    std::string applied_;
};

} // namespace velmora::attach
