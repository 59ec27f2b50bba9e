// Commands the appliance publishes for the host to carry out, one at a time: open a web page,
// stop or exit, report a registry value, replace the DNS suffix list, run a script or a command
// line. The status poll hands each non-empty command text (at most 511 characters) to
// runScriptCommand.
#pragma once

namespace velmora::vm {
class Cvmx;
}

namespace velmora::supervision {

// Dispatches one command text. No result; effects only.
void runScriptCommand(vm::Cvmx& cvmx, const char* text);

} // namespace velmora::supervision
