// Windows edges of the VM backend: the host's address table, the VMware document command and the
// environment handed to VM programs.
#include <iphlpapi.h>
#include <windows.h>
#include <winsock2.h>

#include <memory>
#include <vector>

#include "common/unique_handle.h"
#include "vm/link_check.h"
#include "vm/network_editor.h"
#include "vm/vm_platform.h"

namespace velmora::vm {

int readHostAddressTable(std::vector<HostAddress>* table) {
    ULONG size = sizeof(MIB_IPADDRTABLE);
    std::unique_ptr<unsigned char[]> buffer;
    DWORD r = ERROR_INSUFFICIENT_BUFFER;
    // The table can grow between the two calls: ask again for as long as it does.
    while (r == ERROR_INSUFFICIENT_BUFFER) {
        buffer = std::make_unique<unsigned char[]>(size);
        r = ::GetIpAddrTable(reinterpret_cast<MIB_IPADDRTABLE*>(buffer.get()), &size, FALSE);
    }
    if (r != NO_ERROR) {
        return static_cast<int>(r);
    }
    const auto* rows = reinterpret_cast<const MIB_IPADDRTABLE*>(buffer.get());
    table->clear();
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
        table->push_back({rows->table[i].dwAddr, rows->table[i].dwMask});
    }
    return 0;
}

int readVmwareOpenCommand(std::string* value) {
    unique_hkey key;
    LONG r =
        ::RegOpenKeyExA(HKEY_CLASSES_ROOT, kVmwareOpenCommandKey, 0, KEY_QUERY_VALUE, key.put());
    if (r != ERROR_SUCCESS) {
        return static_cast<int>(r);
    }
    char data[256];
    DWORD size = sizeof data;
    DWORD type = 0;
    r = ::RegQueryValueExA(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data),
                           &size);
    if (r != ERROR_SUCCESS) {
        return static_cast<int>(r);
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        return ERROR_INVALID_DATA;
    }
    // The stored text need not carry its terminator.
    std::size_t length = 0;
    while (length < size && data[length] != '\0') {
        ++length;
    }
    value->assign(data, length);
    return 0;
}

void setEnvironmentValue(const char* name, const char* value) {
    ::SetEnvironmentVariableA(name, value);
}

std::string currentDirectory() {
    char path[MAX_PATH];
    const DWORD n = ::GetCurrentDirectoryA(sizeof path, path);
    return (n == 0 || n >= sizeof path) ? std::string() : std::string(path, n);
}

} // namespace velmora::vm
