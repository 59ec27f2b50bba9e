// Remote USB devices attached through the USB/IP client, one supervised attachment per entry of
// the appliance's USB/IP configuration. One set per VM backend.
#pragma once
#include <string>

namespace velmora::attach {

class UsbipAttachmentSet {
public:
    UsbipAttachmentSet() = default;
    ~UsbipAttachmentSet() { clear(); }
    UsbipAttachmentSet(const UsbipAttachmentSet&) = delete;
    UsbipAttachmentSet& operator=(const UsbipAttachmentSet&) = delete;

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
