// The status poll: the heartbeat of supervision. One poll asks the appliance for its status and,
// when it answers, records what it reports, writes changed identity values into the VMX file,
// sends the host identity when due, brings the routes in line, fetches the serial, USB/IP and
// layer-2 configurations and hands them to their owners, and runs a pending script command. When
// it does not answer (or the host has no path to it), the poll tears down what depends on it.
#pragma once
#include <functional>

#include "supervision/host_identity.h"

namespace velmora::vm {
class Cvmx;
}

namespace velmora::supervision {

// The parts of a poll that reach beyond the VM object (registry, cryptography, processes). Empty
// members mean the program's own: the system identity source, runScriptCommand and setSuffixList.
// Tests and drivers record or replace them.
struct PollServices {
    IdentitySource* identity = nullptr;
    std::function<void(vm::Cvmx&, const char*)> runScript;
    std::function<int(const char*)> setSuffixList;
};

// One status poll of the VM's appliance (Cvmx::poll uses the program's services). 0 after a good
// poll and after one that failed only in checkLink; otherwise the mapped status of the failed
// status request, or the result of a failed identity exchange.
int pollAppliance(vm::Cvmx& cvmx, const PollServices& services);

// True when a value reported by the appliance can be stored as a VMX setting: no double quote
// and no control character, which would end the value early or start a line of its own.
bool isStorableSettingValue(const char* value);

} // namespace velmora::supervision
