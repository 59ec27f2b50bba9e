#include <windows.h>

#include <io.h>

#include "vm/vmx_file.h"

namespace velmora::vm {

bool replaceFileAtomically(const char* from, const char* to) {
    return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool flushFileToDisk(std::FILE* f) {
    return std::fflush(f) == 0 && ::_commit(::_fileno(f)) == 0;
}

} // namespace velmora::vm
