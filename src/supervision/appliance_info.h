// What the status poll learnt about the appliance. Part of each VM backend object; the status
// display reads it. Every text is zero-terminated; sizes include the terminator.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/message.h"

namespace velmora::supervision {

struct ApplianceInfo {
    // Address of the appliance's adapter; zero until read from the VM's configuration.
    protocol::ApplianceMac mac{{0, 0, 0, 0, 0, 0}};
    char productName[100] = {};
    char productNameWritten[100] = {}; // last value written as "appliance.productname"
    char firmware[100] = {};
    char deviceName[100] = {};
    char deviceNameWritten[100] = {}; // last value written as "appliance.hostname"
    char serialNumber[50] = {};
    char serialNumberWritten[50] = {}; // last value written as "appliance.serialno"
    std::uint32_t address = 0;         // source of the last status reply, network order
    int identityPending = 1;           // the host identity must be sent
    char quorvaneText[32] = {};
    char ostrelText[128] = {};
    char serialConfig[1024] = {};
    char usbipConfig[1024] = {};
    char layer2Config[1024] = {};
};

// Copies at most maxChars characters of source (and never more than the field holds), always
// terminating the field. A null source empties it.
template <std::size_t N>
void copyText(char (&field)[N], const char* source, std::size_t maxChars = N - 1) {
    static_assert(N > 0);
    if (maxChars > N - 1) {
        maxChars = N - 1;
    }
    std::size_t n = 0;
    if (source != nullptr) {
        while (n < maxChars && source[n] != '\0') {
            ++n;
        }
        std::memmove(field, source, n);
    }
    field[n] = '\0';
}

} // namespace velmora::supervision
