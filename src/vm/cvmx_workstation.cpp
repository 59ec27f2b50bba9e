#include "vm/cvmx_workstation.h"

namespace velmora::vm {

CvmxWorkstation::CvmxWorkstation() {
    backendType = kBackendWorkstation;
}

CvmxWorkstation::~CvmxWorkstation() {
    CvmxWorkstation::releaseProcesses();
    CvmxWorkstation::close();
}

int CvmxWorkstation::open() {
    state = kOpened;
    return 0;
}

int CvmxWorkstation::close() {
    return closeGeneric();
}

int CvmxWorkstation::prepare() {
    return prepareGeneric();
}

void CvmxWorkstation::releaseProcesses() {
    releaseProcessesGeneric();
}

int CvmxWorkstation::start(int) {
    if (state < kStopped) {
        prepare();
    }
    if (state != kStopped) {
        return kErrorNotStopped;
    }
    return kErrorNotInstalled; // nothing to launch
}

int CvmxWorkstation::stop() {
    undoHostConfiguration();
    if (state < kStopped) {
        prepare();
    }
    return 0;
}

int CvmxWorkstation::pollState(int checkVm, int queryAppliance) {
    // No VM process can be running: at least Stopped means Stopped.
    return pollStateVmware(checkVm, queryAppliance, [this] {
        if (state >= kStopped) {
            state = kStopped;
        }
    });
}

int CvmxWorkstation::setUp() {
    return kErrorNotInstalled;
}

} // namespace velmora::vm
