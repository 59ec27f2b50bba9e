// Native counterpart of file_replace_win.cpp, so the VMX rules run under the sanitizers.
#ifndef _WIN32
#include <unistd.h>

#include <cstdio>

#include "vm/vmx_file.h"

namespace velmora::vm {

bool replaceFileAtomically(const char* from, const char* to) {
    return std::rename(from, to) == 0;
}

bool flushFileToDisk(std::FILE* f) {
    return std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
}

} // namespace velmora::vm
#endif
