// The platform's version as the program sees it (GetVersionExA).
#pragma once

namespace velmora::shell {

struct PlatformVersion {
    unsigned major = 0;
    unsigned minor = 0;
    bool nt = false; // NT family
};

PlatformVersion platformVersion();

} // namespace velmora::shell
