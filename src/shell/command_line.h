// The command line of the windowed program and the rules that turn the VMX path into the one
// form every instance agrees on. Free of operating-system calls; the Windows entry drives them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace velmora::shell {

// One row of the option table. The table is program-wide: the `present` flags of start, stop,
// browse and xstatus double as pending requests that the main window clears when it acts on them.
struct CommandLineOption {
    const char* name; // null ends the table
    std::uint32_t takesNumber;
    std::int32_t present;
    std::int32_t value;
};

// Rows in table order.
enum OptionRow : int {
    kOptStart = 0,
    kOptStop,
    kOptInstall,
    kOptRemove,
    kOptExit,
    kOptXstatus,
    kOptBrowse,
    kOptionCount,
};

struct OptionTable {
    CommandLineOption rows[kOptionCount + 1];

    bool present(OptionRow row) const { return rows[row].present != 0; }
    void set(OptionRow row, std::int32_t value = 0) {
        rows[row].present = 1;
        rows[row].value = value;
    }
    void clear(OptionRow row) {
        rows[row].present = 0;
        rows[row].value = 0;
    }
};

// A fresh table: every row absent with value 0.
OptionTable makeOptionTable();
// The program's table.
OptionTable& programOptions();

inline constexpr char kDefaultVmxFile[] = "Velmora.vmx";

// Walks the line token by token (white space as the C library classifies it). "-name" selects the
// first row whose name matches, case-insensitively, over the row name's length ("-Startup" is
// start); unknown options are skipped. An option that takes a number consumes the next token as a
// decimal integer, whatever it begins with (not a number: 0). The first other token starts the
// VMX path, which runs unchanged (spaces and quotes included) to the end of the line. Without
// one, the path is "Velmora.vmx".
std::string parseCommandLine(const char* line, OptionTable& table);

// "Global\" followed by the path with every backslash made "/" and every other character lower
// case: the single-instance marker does not depend on letter case or slash direction.
std::string instanceMutexName(const std::string& vmxPath);

// The drive letter upper case, when the path begins with a letter and a colon.
void upperDriveLetter(std::string& path);

// Looks a path up (FindFirstFileA on Windows): true with the stored name of its last component.
using PathLookup = std::function<bool(const std::string& path, std::string* storedName)>;
// Called with the path up to each component but the last (the program makes it the current
// directory, so that it ends as the VMX file's folder).
using EnterFolder = std::function<void(const std::string& folder)>;

// Gives every component after the drive (or after "\\server\share") the letter case of its stored
// name, when the lookup finds it with a name of the same length; other components stay as given.
// The drive letter is made upper case first.
void canonicalPathCase(std::string& path, const PathLookup& lookup, const EnterFolder& enter);

// The "Conflicting application" text, cut to 771 characters. exeName is the other instance's
// program (empty when it could not be determined).
std::string conflictMessage(const std::string& exeName);

} // namespace velmora::shell
