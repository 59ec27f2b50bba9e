#include "vm/link_check.h"

#include <cstring>

namespace velmora::vm {

bool isUsableUnicast(std::uint32_t address) {
    unsigned char first = 0;
    std::memcpy(&first, &address, 1); // the first dotted part, whatever the host's byte order
    if (address == 0 || first == 127) {
        return false;
    }
    return (first & 0xE0) != 0xE0;
}

int linkProblem(std::uint32_t applianceAddress, const HostAddress* table, std::size_t count) {
    if (!isUsableUnicast(applianceAddress)) {
        return 1;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (isUsableUnicast(table[i].address) &&
            ((table[i].address ^ applianceAddress) & table[i].mask) == 0) {
            return 0;
        }
    }
    return 1;
}

} // namespace velmora::vm
