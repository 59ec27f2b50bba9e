#include "vm/cvmx_player.h"

namespace velmora::vm {

CvmxPlayer::CvmxPlayer() {
    backendType = kBackendPlayer;
}

CvmxPlayer::~CvmxPlayer() {
    CvmxPlayer::releaseProcesses();
    CvmxPlayer::close();
}

int CvmxPlayer::open() {
    state = kOpened;
    return 0;
}

int CvmxPlayer::close() {
    return closeGeneric();
}

int CvmxPlayer::prepare() {
    return prepareGeneric();
}

void CvmxPlayer::releaseProcesses() {
    releaseProcessesGeneric();
}

int CvmxPlayer::start(int) {
    if (state < kStopped) {
        prepare();
    }
    if (state != kStopped) {
        return kErrorNotStopped;
    }
    return kErrorNotInstalled; // nothing to launch
}

int CvmxPlayer::stop() {
    undoHostConfiguration();
    if (state < kStopped) {
        prepare();
    }
    return 0;
}

int CvmxPlayer::pollState(int checkVm, int queryAppliance) {
    // No VM process can be running: at least Stopped means Stopped.
    return pollStateVmware(checkVm, queryAppliance, [this] {
        if (state >= kStopped) {
            state = kStopped;
        }
    });
}

int CvmxPlayer::setUp() {
    return kErrorNotInstalled;
}

} // namespace velmora::vm
