// The VM under VMware Player (vmplayer.exe). Until the product is driven, the backend refuses at
// set-up (1060), so start-up moves on to the next backend.
#pragma once
#include "vm/cvmx.h"

namespace velmora::vm {

class CvmxPlayer : public virtual Cvmx {
public:
    CvmxPlayer();
    ~CvmxPlayer() override;

    int open() override;
    int close() override;
    int prepare() override;
    void releaseProcesses() override;
    int start(int showConsole) override;
    int stop() override;
    int pollState(int checkVm, int queryAppliance) override;
    int setUp() override;
};

} // namespace velmora::vm
