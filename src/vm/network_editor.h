// The command line that opens VMware's virtual network editor, derived from the command the
// registry gives for opening VMware documents: the program's folder plus "vmnetcfg.exe".
#pragma once
#include <cstddef>
#include <string>

namespace velmora::vm {

// Registry key (under HKEY_CLASSES_ROOT) whose default value opens a VMware document.
inline constexpr char kVmwareOpenCommandKey[] = "VMware.Document\\shell\\open\\command";

// Pure: the program path is the data up to the first space outside quotes ("..." or '...');
// everything after its last "\" or "/" (or the whole value when there is none) becomes
// "vmnetcfg.exe", followed by the quote that was open at that separator. The data need not be
// terminated: it ends at length or at the first zero byte.
std::string networkEditorFromOpenCommand(const char* data, std::size_t length);

// Reads the default value of the key above (at most 256 bytes): 0 and the value, or the
// registry's error code (2 where there is no registry).
int readVmwareOpenCommand(std::string* value);

} // namespace velmora::vm
