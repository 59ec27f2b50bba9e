#include "protocol/interface_choice.h"

namespace velmora::protocol {
namespace {

std::uint32_t hostOrder(std::uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&networkOrder);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) |
           std::uint32_t{b[3]};
}

} // namespace

bool unicastQualifies(std::uint32_t address) {
    const std::uint32_t a = hostOrder(address);
    return a != 0 && (a >> 24) != 127 && a < 0xE0000000u;
}

bool prefixContains(const AdapterPrefix& prefix, std::uint32_t target) {
    if (prefix.length < 1 || prefix.length > 31) {
        return false;
    }
    const std::uint32_t mask = 0xFFFFFFFFu << (32 - prefix.length);
    return ((hostOrder(prefix.address) ^ hostOrder(target)) & mask) == 0;
}

std::vector<ChosenInterface> chooseInterfaces(const std::vector<AdapterDescription>& adapters,
                                              bool targetKnown, std::uint32_t target) {
    std::vector<ChosenInterface> chosen;
    for (const AdapterDescription& adapter : adapters) {
        if (!adapter.operUp || !adapter.hasUnicast || !adapter.unicastIsIpv4 ||
            !unicastQualifies(adapter.address)) {
            continue;
        }
        ChosenInterface choice;
        choice.index = adapter.index;
        choice.address = adapter.address;
        if (targetKnown) {
            for (const AdapterPrefix& prefix : adapter.prefixes) {
                if (prefixContains(prefix, target)) {
                    choice.hasPrefix = true;
                    choice.prefix = prefix;
                    break;
                }
            }
            if (!choice.hasPrefix) {
                continue;
            }
        }
        chosen.push_back(choice);
    }
    return chosen;
}

} // namespace velmora::protocol
