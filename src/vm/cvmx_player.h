// The VM under VMware Player (vmplayer.exe). The Player is started with the VMX file and, once the
// user has accepted VMware's licence, its window is taken off the desktop. A running VM is
// recognised through "vmware.log", which VMware keeps open beside the VMX file while the VM runs
// (so deleting it fails) and whose first line names the VM process (" pid="); that is how a VM
// started by an earlier run is found again.
#pragma once
#include <cstdint>
#include <string>

#include "vm/cvmx.h"

namespace velmora::vm {

using ProcessHandle = void*; // HANDLE on Windows

// What CreateProcessA reports, or what findVmProcess learnt about the Player.
struct PlayerProcessInfo {
    ProcessHandle process = nullptr;
    ProcessHandle thread = nullptr;
    std::uint32_t processId = 0;
    std::uint32_t threadId = 0;
};

class CvmxPlayer : public virtual Cvmx {
public:
    CvmxPlayer();
    ~CvmxPlayer() override;

    int open() override;
    int close() override;
    int prepare() override;
    // Closes the Player's process and thread handles and the VM process handle; > 2 -> 2.
    void releaseProcesses() override;
    // Starts the Player unless a VM already runs from this file: 0 (state 4), or 89.
    int start(int showConsole) override;
    // Undoes the host configuration, asks the appliance to shut down, closes the Player's window
    // and ends what is left of the Player and the VM. Always 0.
    int stop() override;
    int pollState(int checkVm, int queryAppliance) override;
    // Builds launchCommand and logPath from the VMware document command: 0 or 1060.
    int setUp() override;

    // True when the Player's or the VM's process handle is open afterwards. Reads the VM's id from
    // the log and, for a VM this run did not start, finds the Player as its parent.
    bool findVmProcess();
    // True when logPath no longer exists after trying to delete it (no VM holds it open).
    bool vmLogReleased();

    std::string launchCommand;
    std::string logPath;
    PlayerProcessInfo playerProcess;
    ProcessHandle vmProcess = nullptr;
    std::uint32_t vmProcessId = 0;

    // How long stop leaves the appliance to shut down after it took the request.
    std::uint32_t shutdownGraceMs = 10000;

private:
    // ---- Platform parts (cvmx_player_win.cpp; cvmx_player_posix.cpp has no processes) ----
    // The licence check from the preferences file and the Player's version resource.
    bool licenceAccepted() const;
    // CreateProcessA, the first input-idle and, when asked, the window moved off the desktop:
    // 0 or 89.
    int launchPlayer(bool minimised, bool hideWindow);
    // The Player's or the VM's process has not ended.
    bool processesStillActive() const;
    // Window close, waits and termination of the Player and the VM (stop).
    void endPlayerAndVm();
    void closeProcessHandles();
};

} // namespace velmora::vm
