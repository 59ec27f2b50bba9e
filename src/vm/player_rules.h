// The text rules of the VMware Player backend, kept free of system calls so they can be tested by
// tables natively: the launch template from the VMware document command, the VM log's path and its
// " pid=" line, the licence-acceptance lines of VMware's preferences file and the names of the
// files the backend deletes or recognises.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora::vm {

inline constexpr char kPlayerExecutable[] = "vmplayer.exe";
inline constexpr char kPlayerWindowClass[] = "VMPlayerFrame";
inline constexpr char kVmLogName[] = "vmware.log";
// Suspend-state and memory files of the VM, in the current directory.
inline constexpr char kVmSuspendFile[] = "Velmora.vmss";
inline constexpr char kVmMemoryFile[] = "Velmora.vmem";
// The registry value is read through a buffer of this size.
inline constexpr std::size_t kPlayerTemplateSize = 256;
// Lines of the preferences file and of the VM log are read through a buffer of this size.
inline constexpr std::size_t kPlayerLineBuffer = 256;
// The product version's digits are formatted (quotes included) into this many bytes.
inline constexpr std::size_t kVersionTextSize = 16;

// The registry value of the VMware document command turned into a launch template with exactly
// one "%s": it must name "vmplayer.exe"; its first "%" must be followed by "1" (which becomes
// "s") and no other "%" may follow; without any "%" a quoted placeholder " \"%s\"" is appended
// when it fits the 256-byte buffer. The data may carry its terminating zero (the length then drops
// by one) and ends at the first zero byte. 0 and the template, or 1060 (out untouched).
int makePlayerLaunchTemplate(const char* data, std::size_t length, std::string* out);

// The template with its one "%s" replaced by the VMX path.
std::string formatLaunchCommand(const std::string& launchTemplate, const char* vmxPath);

// The VMX file's folder (up to and including its last "\" or "/", empty when there is none)
// followed by "vmware.log".
std::string vmLogPathFor(const char* vmxPath);

// The program of a command line: characters up to the first space outside double quotes, with
// every double quote dropped.
std::string commandProgramPath(const char* command);

// The licence texts of a Player build, quotes included. buildText: the build number, the low 16
// bits of the fixed product version's least significant word, as "\"%u\"". versionText: the run
// of decimal digits that ends the "ProductVersion" string (a trailing zero byte dropped; the run
// may be empty) as "\"%s\"", cut to 15 characters.
std::string eulaBuildText(std::uint32_t productVersionLs);
std::string eulaVersionText(const char* productVersion, std::size_t length);

// A preferences line that accepts the licence: "pref.eula." + one or more digits +
// ".buildNumber" + a space or "=", and the rest of the line after that character contains
// buildText or versionText (an empty versionText is contained in every line).
bool isEulaAcceptanceLine(const char* line, const char* buildText, const char* versionText);

// Scans the preferences file for an acceptance line (only when buildText is not empty), looking at
// the first 255 characters of each line; the rest of a longer line is skipped. False when the file
// cannot be opened.
bool preferencesAcceptEula(const char* path, const std::string& buildText,
                           const std::string& versionText);

// The decimal process id after the first " pid=" of the VM log's first line; 0 when there is no
// such text, no digit after it, or a number that does not fit 32 bits.
std::uint32_t vmPidFromLogLine(const char* line);

// "<uuid>.vmem": the sixteen bytes as lowercase hexadecimal in 8-4-4-4-12 groups.
std::string uuidMemoryFileName(const std::uint8_t uuid[16]);

// True when the executable name (after the last "\") is "vmplayer.exe", ignoring case.
bool isPlayerExecutable(const char* exePath);

} // namespace velmora::vm
