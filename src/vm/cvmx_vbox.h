// The VM under VirtualBox, driven through the programs in the VMX file's folder. Until that is
// built, the backend refuses at set-up (1060), so start-up moves on to the next backend.
#pragma once
#include "vm/cvmx.h"

namespace velmora::vm {

class CvmxVBox : public virtual Cvmx {
public:
    // Also points "VBOX_USER_HOME" at the current directory, so the VirtualBox programs started
    // later find their settings beside the configuration file.
    CvmxVBox();
    ~CvmxVBox() override;

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
