// The service wrapper itself (service main, control handler, install and remove) is not built
// yet: the dispatcher is never entered and -install/-remove change nothing, so the service control
// manager never starts this program. The autostart question is answered from the real service
// configuration, so an installed service is honoured.
#include <windows.h>

#include <vector>

#include "common/unique_handle.h"
#include "shell/service.h"

namespace velmora::shell {

bool runServiceDispatcher() {
    return false;
}

void installService(const char*) {}

void removeService() {}

bool isAutostartEnabled() {
    unique_schandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return false;
    }
    unique_schandle service(::OpenServiceA(manager.get(), kServiceName, SERVICE_QUERY_CONFIG));
    if (!service) {
        return false;
    }
    std::vector<unsigned char> buffer(64);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!::QueryServiceConfigA(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            return false;
        }
        buffer.resize(needed);
        config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        if (!::QueryServiceConfigA(service.get(), config, needed, &needed)) {
            return false;
        }
    }
    return config->dwStartType == SERVICE_AUTO_START;
}

} // namespace velmora::shell
