// The Player backend's process handling where there are no Windows processes: nothing can be
// started or found, so the backend only ever sees a stopped VM (its set-up already refuses without
// a registry).
#ifndef _WIN32
#include "vm/cvmx_player.h"

namespace velmora::vm {

bool CvmxPlayer::licenceAccepted() const {
    return false;
}

int CvmxPlayer::launchPlayer(bool, bool) {
    return kErrorNotStopped;
}

bool CvmxPlayer::processesStillActive() const {
    return false;
}

void CvmxPlayer::endPlayerAndVm() {}

void CvmxPlayer::closeProcessHandles() {
    playerProcess.process = nullptr;
    playerProcess.thread = nullptr;
    vmProcess = nullptr;
}

bool CvmxPlayer::findVmProcess() {
    vmProcess = nullptr;
    vmLogReleased(); // a stale log is removed all the same
    return false;
}

} // namespace velmora::vm
#endif
