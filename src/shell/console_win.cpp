// The console URL is opened directly; the web-proxy exception offered before it is not built yet.
#include <cstdio>

#include "shell/console.h"
#include "shell/launch.h"

namespace velmora::shell {

int openConsole(vm::Cvmx& backend) {
    if (backend.state < vm::kConfigured) {
        return vm::kErrorNotActive;
    }
    if (backend.info.address == 0) {
        backend.pollState(1, 1);
        if (backend.info.address == 0) {
            return 1228;
        }
    }
    char url[64];
    std::snprintf(url, sizeof url, "%s://%s%s", "http", backend.addressText(), ":3/console/");
    return static_cast<int>(openUrl(url));
}

} // namespace velmora::shell
