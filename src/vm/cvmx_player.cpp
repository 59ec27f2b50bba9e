#include "vm/cvmx_player.h"

#include <chrono>
#include <cstdio>
#include <thread>

#ifdef _WIN32
#include <io.h>
#define VELMORA_ACCESS ::_access
#else
#include <unistd.h>
#define VELMORA_ACCESS ::access
#endif

#include "protocol/operations.h"
#include "vm/channel_link.h"
#include "vm/network_editor.h"
#include "vm/player_rules.h"

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
    closeProcessHandles();
    releaseProcessesGeneric();
}

int CvmxPlayer::setUp() {
    std::string value;
    if (readVmwareOpenCommand(&value) != 0) {
        return kErrorNotInstalled;
    }
    std::string launchTemplate;
    const int r = makePlayerLaunchTemplate(value.data(), value.size(), &launchTemplate);
    if (r != 0) {
        return r;
    }
    launchCommand = formatLaunchCommand(launchTemplate, vmxPath.c_str());
    logPath = vmLogPathFor(vmxPath.c_str());
    return 0;
}

bool CvmxPlayer::vmLogReleased() {
    std::remove(logPath.c_str());
    return VELMORA_ACCESS(logPath.c_str(), 0) != 0;
}

int CvmxPlayer::start(int showConsole) {
    if (state < kStopped) {
        prepare();
    }
    if (state != kStopped) {
        return kErrorNotStopped;
    }
    const bool accepted = licenceAccepted();
    if (vmLogReleased()) {
        // No VM runs from this file: its saved state and memory would only be stale.
        std::remove(kVmSuspendFile);
        std::remove(kVmMemoryFile);
        std::uint8_t uuid[16];
        if (readVmUuid(uuid) == 0) {
            std::remove(uuidMemoryFileName(uuid).c_str());
        }
        // Until the licence is accepted the user must see VMware's dialogs: the window stays.
        const int r = launchPlayer(accepted, showConsole == 0 && accepted);
        if (r != 0) {
            return r;
        }
    }
    state = kStarting;
    return 0;
}

int CvmxPlayer::pollState(int checkVm, int queryAppliance) {
    return pollStateVmware(checkVm, queryAppliance, [this] {
        if (state < kStopped) {
            return;
        }
        if (vmProcess == nullptr) {
            if (findVmProcess()) {
                state = state < kStarting ? kStarting : state;
            } else {
                state = kStopped;
            }
        } else if (processesStillActive()) {
            state = state < kStarting ? kStarting : state;
        } else {
            releaseProcesses();
            prepare();
        }
    });
}

int CvmxPlayer::stop() {
    undoHostConfiguration();
    if (state < kStopped) {
        prepare();
    }
    if (state < kStarting || !findVmProcess()) {
        return 0;
    }
    // Only a VMware or VirtualBox appliance is asked; the others are not waited for.
    if (protocol::RequestChannel* channel = requestChannel()) {
        if (protocol::sendShutdown(*channel, info.mac) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(shutdownGraceMs));
        }
    }
    endPlayerAndVm();
    releaseProcesses();
    prepare();
    return 0;
}

} // namespace velmora::vm
