#include "serial/serial_emulation.h"

namespace velmora::serial {

// No session can run yet: a configuration is remembered (so an unchanged one changes nothing)
// and reported as "no virtual port".
int SerialEmulation::Start(const char* config) {
    if (config == nullptr || config[0] == '\0') {
        Stop();
        return 0;
    }
    if (config_ == config) {
        return 0;
    }
    config_ = config;
    return EnsureVirtualPort(0) == 0 ? -1 : 0;
}

void SerialEmulation::Stop() {
    config_.clear();
}

std::string SerialEmulation::SettingsText() const {
    return {};
}

} // namespace velmora::serial
