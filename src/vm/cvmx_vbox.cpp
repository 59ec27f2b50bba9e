#include "vm/cvmx_vbox.h"

#include "vm/vm_platform.h"

namespace velmora::vm {

CvmxVBox::CvmxVBox() {
    backendType = kBackendVBox;
    setEnvironmentValue("VBOX_USER_HOME", currentDirectory().c_str());
}

CvmxVBox::~CvmxVBox() {
    CvmxVBox::releaseProcesses();
    CvmxVBox::close();
}

int CvmxVBox::open() {
    const int r = setUp();
    if (r == 0) {
        state = kOpened;
    }
    return r;
}

int CvmxVBox::close() {
    return closeGeneric();
}

int CvmxVBox::prepare() {
    return prepareGeneric();
}

void CvmxVBox::releaseProcesses() {
    releaseProcessesGeneric();
}

int CvmxVBox::start(int) {
    if (state < kStopped) {
        prepare();
    }
    if (state != kStopped) {
        return kErrorNotStopped;
    }
    return kErrorNotInstalled; // nothing to launch
}

int CvmxVBox::stop() {
    undoHostConfiguration();
    if (state < kStopped) {
        prepare();
    }
    return 0;
}

int CvmxVBox::pollState(int checkVm, int queryAppliance) {
    return pollStateVBox(checkVm, queryAppliance);
}

int CvmxVBox::setUp() {
    return kErrorNotInstalled;
}

} // namespace velmora::vm
