// VMX and VirtualBox machine-file lines: key matching, quoted values, MAC and UUID forms.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "vm/vmx_file.h"

using namespace velmora::vm;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The first byte splits the input into a key and a line, as the file reader would pass them
    // (a line never exceeds 255 characters).
    if (size == 0) {
        return 0;
    }
    const std::size_t split = data[0] % (size);
    std::string key(reinterpret_cast<const char*>(data + 1), split > 0 ? split - 1 : 0);
    std::string line(reinterpret_cast<const char*>(data + (split > 0 ? split : 1)),
                     size - (split > 0 ? split : 1));
    if (line.size() > static_cast<std::size_t>(kVmxLineBuffer - 1)) {
        line.resize(kVmxLineBuffer - 1);
    }
    const char* l = line.c_str();

    (void)lineMatchesKey(l, key.c_str());
    (void)lineMatchesKey(l, vmxkey::kGeneratedAddress);
    char value[kVmxLineBuffer];
    if (extractQuotedValue(l, value, sizeof value)) {
        std::uint8_t mac[6];
        std::uint8_t uuid[16];
        (void)parseGeneratedAddress(value, mac);
        (void)parseUuidValue(value, uuid);
        (void)connectionTypeIndex(value);
        (void)comPortNumber(value);
    }
    char small[4];
    (void)extractQuotedValue(l, small, sizeof small);
    std::uint8_t uuid[16];
    (void)parseUuidValue(l, uuid);
    (void)parseVBoxAdapterLine(l);
    (void)parseVBoxMachineUuidLine(l, uuid);
    (void)firstDigit(l);
    return 0;
}
