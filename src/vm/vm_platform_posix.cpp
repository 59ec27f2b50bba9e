// Native counterparts of vm_platform_win.cpp, so the VM logic runs under the sanitizers.
#ifndef _WIN32
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "vm/link_check.h"
#include "vm/network_editor.h"
#include "vm/vm_platform.h"

namespace velmora::vm {

int readHostAddressTable(std::vector<HostAddress>* table) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return errno;
    }
    table->clear();
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr ||
            i->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        table->push_back({reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr,
                          reinterpret_cast<const sockaddr_in*>(i->ifa_netmask)->sin_addr.s_addr});
    }
    ::freeifaddrs(list);
    return 0;
}

int readVmwareOpenCommand(std::string*) {
    return 2;
} // no registry: "file not found"

void setEnvironmentValue(const char* name, const char* value) {
    ::setenv(name, value, 1);
}

std::string currentDirectory() {
    char path[PATH_MAX];
    return ::getcwd(path, sizeof path) != nullptr ? std::string(path) : std::string();
}

} // namespace velmora::vm
#endif
