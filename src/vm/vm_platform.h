// Small operating-system services of the VM backend.
#pragma once
#include <string>

namespace velmora::vm {

// Sets a variable in the environment that programs started later inherit.
void setEnvironmentValue(const char* name, const char* value);
// The current directory (the VMX file's folder while the program runs); empty on failure.
std::string currentDirectory();

} // namespace velmora::vm
