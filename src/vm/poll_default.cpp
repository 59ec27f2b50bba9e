// Placeholder for the status poll until the supervision layer provides Cvmx::poll; delete this
// file when it does.
#include "vm/cvmx.h"

namespace velmora::vm {

int Cvmx::poll() {
    return 0;
}

} // namespace velmora::vm
