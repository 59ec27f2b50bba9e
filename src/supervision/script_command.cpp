#include "supervision/script_command.h"

namespace velmora::supervision {

// The dispatcher does not exist yet: every command is left undone.
void runScriptCommand(vm::Cvmx&, const char*) {}

} // namespace velmora::supervision
