#include "vm/cvmx.h"
#include "vm/cvmx_player.h"
#include "vm/cvmx_vbox.h"
#include "vm/cvmx_workstation.h"

namespace velmora::vm {

BackendChoice chooseBackend(const char* path, const BackendFactory* factories, std::size_t count) {
    BackendChoice choice;
    choice.result = kErrorNotInstalled;
    for (std::size_t i = 0; i < count; ++i) {
        std::unique_ptr<Cvmx> backend = factories[i]();
        if (!backend) {
            continue;
        }
        choice.result = backend->configure(path);
        if (choice.result == 0) {
            choice.backend = std::move(backend);
            return choice;
        }
        // Any other result, 1062 included, moves on; the rejected backend is destroyed here.
    }
    return choice;
}

BackendChoice chooseBackend(const char* path) {
    static const BackendFactory factories[] = {
        [] { return std::unique_ptr<Cvmx>(new CvmxVBox); },
        [] { return std::unique_ptr<Cvmx>(new CvmxPlayer); },
        [] { return std::unique_ptr<Cvmx>(new CvmxWorkstation); },
    };
    return chooseBackend(path, factories, std::size(factories));
}

} // namespace velmora::vm
