// The VM configuration file (".vmx"): key/value lines read and rewritten in place, plus the two
// values VirtualBox keeps in its own machine file. Everything here works on a path so that the
// rules can be exercised on real files; the line parsers are pure functions (fuzzed).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace velmora::vm {

// Every key the program reads or writes, spelled as its callers pass it (writeSetting keeps the
// caller's letter case).
namespace vmxkey {
inline constexpr char kConfigVersion[] = "config.version";
inline constexpr char kApplianceHostname[] = "appliance.hostname";
inline constexpr char kApplianceSerialNo[] = "appliance.serialno";
inline constexpr char kApplianceProductName[] = "appliance.productname";
inline constexpr char kComPort[] = "comport";
inline constexpr char kUuidAction[] = "uuid.action";
inline constexpr char kIde01Present[] = "ide0:1.present";
inline constexpr char kIde01FileName[] = "ide0:1.fileName";
inline constexpr char kGeneratedAddress[] = "ethernet0.generatedAddress";
inline constexpr char kUuidBios[] = "uuid.bios";
inline constexpr char kUuidLocation[] = "uuid.location";
inline constexpr char kConnectionType[] = "Ethernet0.connectionType";
inline constexpr char kSpeculationControl[] = "hostOS.speculationControl";
inline constexpr char kKvaShadow[] = "hostOS.kvaShadow";
} // namespace vmxkey

// Lines are read through a 256-byte buffer: a longer line is handled as several lines.
inline constexpr int kVmxLineBuffer = 256;
// VirtualBox's machine file, relative to the current directory (the VMX file's folder).
#ifdef _WIN32
inline constexpr char kVBoxMachineFile[] = "Machines\\Velmora\\Velmora.xml";
#else
inline constexpr char kVBoxMachineFile[] = "Machines/Velmora/Velmora.xml";
#endif
// Backend type that reads the VirtualBox machine file instead of the VMX keys.
inline constexpr int kBackendTypeVBox = 4;
// Result when no MAC or UUID could be found.
inline constexpr int kErrorNotFound = 1228;
// pipeName holds "%02x" six times and its terminator.
inline constexpr std::size_t kPipeNameSize = 13;

inline constexpr int kConnectionTypeCount = 4;
extern const char* const
    kConnectionTypes[kConnectionTypeCount]; // "bridged", "nat", "hostonly", "custom"

// ---- Pure line and value parsers -----------------------------------------------------------

// True when the line's first strlen(key) characters equal key ignoring case and the next
// character is a space, "=" or the end of the text.
bool lineMatchesKey(const char* line, const char* key);
// Copies the text between the line's first two double quotes into out (cut to capacity - 1).
// False, out untouched, when either quote is missing or capacity is 0.
bool extractQuotedValue(const char* line, char* out, std::size_t capacity);
// Six two-digit hexadecimal numbers, each optionally followed by one ":". mac untouched on false.
bool parseGeneratedAddress(const char* value, std::uint8_t mac[6]);
// From the first hexadecimal digit: sixteen two-digit numbers, each optionally followed by one
// space or "-". uuid untouched on false.
bool parseUuidValue(const char* value, std::uint8_t uuid[16]);

// One line of the VirtualBox machine file, as readApplianceMac sees it.
struct VBoxAdapterLine {
    bool counts = false; // "<Adapter slot=\"" + digit, slot <= 1, "MACAddress=\"" after it
    int slot = 0;
    bool macRead = false; // six pairs were read
    std::uint8_t mac[6] = {};
};
VBoxAdapterLine parseVBoxAdapterLine(const char* line);
// A "<Machine uuid=\"{" line: 1 when it holds sixteen good pairs, 0 when it is such a line with a
// bad UUID, -1 when it is not such a line.
int parseVBoxMachineUuidLine(const char* line, std::uint8_t uuid[16]);

// Index of value in the connection-type table (case-sensitive), 0 when absent or unknown.
int connectionTypeIndex(const char* value);
// "comport" texts: the first decimal digit (null when there is none) and the number there
// (saturated at INT_MAX; 0 without digits).
const char* firstDigit(const char* text);
int comPortNumber(const char* text);

// ---- File operations ------------------------------------------------------------------------

// Value of key, or null (file missing, key absent, quotes missing). The text lives in one static
// 256-byte buffer valid until the next readSetting: copy or compare it at once.
const char* readSetting(const char* path, const char* key);
// The same without the shared buffer: true and out filled (cut to capacity - 1) when found.
bool readSettingInto(const char* path, const char* key, char* out, std::size_t capacity);

// Replaces every line of key with `key = "value"` (removes them for a null value), appending the
// line when none matched. 1 when the file changed, 0 when not. The new content is written to
// "<path>.tmp" and then replaces the file in one step; if that step fails the file keeps its old
// content, the ".tmp" stays and the result is still 1. A failed write of the ".tmp" leaves the
// file alone and returns 0.
int writeSetting(const char* path, const char* key, const char* value);

// Type other than 4: the MAC from "ethernet0.generatedAddress". Type 4: slot 0 of the VirtualBox
// machine file gives the MAC, slot 1 gives pipeName (12 hex digits). 0, or 1228.
int readApplianceMac(const char* path, int backendType, std::uint8_t mac[6],
                     char pipeName[kPipeNameSize]);
// "uuid.bios", else "uuid.location", else (type 4 only) the VirtualBox machine file. 0, or 1228;
// out untouched on 1228.
int readVmUuid(const char* path, int backendType, std::uint8_t out[16]);

int getConnectionType(const char* path);
// writeSetting's result; 0 without writing for an index outside the table.
int setConnectionType(const char* path, int index);

// ---- Platform helpers (file_replace_*.cpp) ------------------------------------------------------

// Replaces `to` with `from` in one step (Windows: MoveFileExA with REPLACE_EXISTING and
// WRITE_THROUGH; elsewhere rename()). True on success.
bool replaceFileAtomically(const char* from, const char* to);
// Pushes a written file's data to the disk before it replaces anything. True on success.
bool flushFileToDisk(std::FILE* f);

} // namespace velmora::vm
