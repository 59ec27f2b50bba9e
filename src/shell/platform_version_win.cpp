#include <windows.h>

#include "shell/platform_version_win.h"

namespace velmora::shell {

PlatformVersion platformVersion() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    PlatformVersion version;
    if (::GetVersionExA(&info)) {
        version.major = info.dwMajorVersion;
        version.minor = info.dwMinorVersion;
        version.nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    }
    return version;
}

} // namespace velmora::shell
