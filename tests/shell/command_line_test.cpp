#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace velmora::shell {
namespace {

struct ParseCase {
    const char* line;
    const char* path;
    // Rows expected present, with their values.
    std::map<OptionRow, int> present;
};

TEST(CommandLine, ParsesOptionsNumbersAndThePath) {
    const ParseCase cases[] = {
        {"", "Velmora.vmx", {}},
        {"   \t ", "Velmora.vmx", {}},
        {"x.vmx", "x.vmx", {}},
        // The number option as the last token: present with 0, the default file.
        {"-xstatus", "Velmora.vmx", {{kOptXstatus, 0}}},
        // The space belongs to the path; nothing after the path is parsed.
        {"-xstatus 5000 C:\\vm\\a b.vmx", "C:\\vm\\a b.vmx", {{kOptXstatus, 5000}}},
        {"-xstatus abc x.vmx", "x.vmx", {{kOptXstatus, 0}}},
        // Whatever follows a number option is its number, a "-" included.
        {"-xstatus -start x.vmx", "x.vmx", {{kOptXstatus, 0}}},
        {"-xstatus -12 x.vmx", "x.vmx", {{kOptXstatus, -12}}},
        {"-xstatus 99999999999 x.vmx", "x.vmx", {{kOptXstatus, 2147483647}}},
        {"-bogus x.vmx", "x.vmx", {}},
        {"- x.vmx", "x.vmx", {}},
        // Prefix match over the row name's length, case-insensitive, first row wins.
        {"-Start -startup x.vmx", "x.vmx", {{kOptStart, 0}}},
        {"-st x.vmx", "x.vmx", {}},
        {"-STOP -EXIT c:\\VM\\Velmora.VMX", "c:\\VM\\Velmora.VMX", {{kOptStop, 0}, {kOptExit, 0}}},
        {"-install -start", "Velmora.vmx", {{kOptInstall, 0}, {kOptStart, 0}}},
        {"-remove -browse y.vmx", "y.vmx", {{kOptRemove, 0}, {kOptBrowse, 0}}},
        // Quotes and trailing text stay as given; later "-" tokens belong to the path.
        {"\"C:\\my vm\\a.vmx\" -stop", "\"C:\\my vm\\a.vmx\" -stop", {}},
        {"\t-start\tx.vmx", "x.vmx", {{kOptStart, 0}}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.line);
        OptionTable table = makeOptionTable();
        EXPECT_EQ(parseCommandLine(c.line, table), c.path);
        for (int row = 0; row < kOptionCount; ++row) {
            const auto it = c.present.find(static_cast<OptionRow>(row));
            SCOPED_TRACE(table.rows[row].name);
            EXPECT_EQ(table.rows[row].present, it != c.present.end() ? 1 : 0);
            EXPECT_EQ(table.rows[row].value, it != c.present.end() ? it->second : 0);
        }
    }
}

TEST(CommandLine, TableOrderAndNumberRows) {
    const OptionTable table = makeOptionTable();
    const char* names[] = {"start", "stop", "install", "remove", "exit", "xstatus", "browse"};
    for (int row = 0; row < kOptionCount; ++row) {
        EXPECT_STREQ(table.rows[row].name, names[row]);
        EXPECT_EQ(table.rows[row].takesNumber, row == kOptXstatus ? 1u : 0u);
    }
    EXPECT_EQ(table.rows[kOptionCount].name, nullptr);
}

TEST(CommandLine, MutexNameIgnoresCaseAndSlashDirection) {
    EXPECT_EQ(instanceMutexName("C:\\vm\\Velmora.vmx"), "Global\\c:/vm/velmora.vmx");
    EXPECT_EQ(instanceMutexName("c:\\VM\\VELMORA.vmx"), instanceMutexName("C:\\vm\\velmora.VMX"));
    EXPECT_EQ(instanceMutexName("\\\\srv\\Share\\A.vmx"), "Global\\//srv/share/a.vmx");
}

// Stored names by path, looked up case-insensitively as Windows does.
struct FakeFs {
    std::map<std::string, std::string> names; // lower-case path -> stored name
    std::vector<std::string> entered;

    static std::string lower(std::string s) {
        for (char& c : s) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return s;
    }
    std::string run(std::string path) {
        canonicalPathCase(
            path,
            [this](const std::string& p, std::string* name) {
                const auto it = names.find(lower(p));
                if (it == names.end()) {
                    return false;
                }
                *name = it->second;
                return true;
            },
            [this](const std::string& folder) { entered.push_back(folder); });
        return path;
    }
};

TEST(CommandLine, CanonicalPathTakesTheStoredLetterCase) {
    FakeFs fs;
    fs.names = {{"c:\\vm", "vm"}, {"c:\\vm\\velmora.vmx", "Velmora.vmx"}};
    EXPECT_EQ(fs.run("c:\\VM\\Velmora.VMX"), "C:\\vm\\Velmora.vmx");
    EXPECT_EQ(fs.entered, std::vector<std::string>{"C:\\vm"});
    EXPECT_EQ(instanceMutexName("C:\\vm\\Velmora.vmx"), "Global\\c:/vm/velmora.vmx");

    // A component not found stays as given; a short name found under its long name (another
    // length) stays short.
    FakeFs other;
    other.names = {{"d:\\data", "Data"}, {"d:\\data\\longfo~1", "Long Folder Name"}};
    EXPECT_EQ(other.run("d:\\DATA\\LONGFO~1\\X.VMX"), "D:\\Data\\LONGFO~1\\X.VMX");
    EXPECT_EQ(other.entered, (std::vector<std::string>{"D:\\Data", "D:\\Data\\LONGFO~1"}));

    // A UNC path: server and share are the root; only later components are looked up.
    FakeFs unc;
    unc.names = {{"\\\\srv\\share\\dir", "Dir"}, {"\\\\srv\\share\\dir\\a.vmx", "A.vmx"}};
    EXPECT_EQ(unc.run("\\\\srv\\share\\dir\\a.vmx"), "\\\\srv\\share\\Dir\\A.vmx");
    EXPECT_EQ(unc.entered, std::vector<std::string>{"\\\\srv\\share\\Dir"});

    std::string drive = "e:x.vmx";
    upperDriveLetter(drive);
    EXPECT_EQ(drive, "E:x.vmx");
}

TEST(CommandLine, ConflictMessageNamesTheOtherProgram) {
    const std::string named = conflictMessage("C:\\Program Files\\Velmora\\Velmora.exe");
    EXPECT_EQ(named, "A conflicting application is already running.\nThese two applications "
                     "can't run concurrently without disturbing each other's operation.\n\n"
                     "Please shut down\nC:\\Program Files\\Velmora\\Velmora.exe\nfirst, then "
                     "press Retry.\nPress Abort to abort the start of this Velmora.\nPress Ignore "
                     "to continue anyway.");
    const std::string unnamed = conflictMessage("");
    EXPECT_NE(unnamed.find("Please shut down the other application first, then press Retry."),
              std::string::npos);
    EXPECT_EQ(conflictMessage(std::string(2000, 'x')).size(), 771u);
}

} // namespace
} // namespace velmora::shell
