// Opening the appliance's web console in the user's browser.
#pragma once
#ifdef _WIN32
#include "vm/cvmx.h"

namespace velmora::shell {

// 1062 when the backend is not even configured, 1228 when the appliance's address is still
// unknown after a full poll; otherwise openUrl's result for "http://<address>:3/console/".
int openConsole(vm::Cvmx& backend);

} // namespace velmora::shell
#endif
