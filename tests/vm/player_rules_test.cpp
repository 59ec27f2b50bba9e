#include "vm/player_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "vm/cvmx.h"
#include "vm/temp_dir.h"

namespace velmora::vm {
namespace {

TEST(PlayerRules, LaunchTemplateFromTheDocumentCommand) {
    const std::string base = "\"C:\\Program Files\\VMware\\VMware Player\\vmplayer.exe\"";
    struct Case {
        std::string value;
        bool withTerminator;
        int result;
        std::string launchTemplate;
    } cases[] = {
        {base + " \"%1\"", false, 0, base + " \"%s\""},
        {base + " \"%1\"", true, 0, base + " \"%s\""},
        {"C:\\VMware\\vmplayer.exe -X %1", false, 0, "C:\\VMware\\vmplayer.exe -X %s"},
        // No placeholder: a quoted one is appended when it fits the 256-byte buffer.
        {base, false, 0, base + " \"%s\""},
        {"C:\\" + std::string(234, 'x') + "\\vmplayer.exe", false, 0,
         "C:\\" + std::string(234, 'x') + "\\vmplayer.exe \"%s\""}, // 250 characters
        {"C:\\" + std::string(235, 'x') + "\\vmplayer.exe", false, kErrorNotInstalled, ""},
        // Anything but "%1", or a second "%", could be taken as a format directive.
        {base + " \"%2\"", false, kErrorNotInstalled, ""},
        {base + " \"%s\"", false, kErrorNotInstalled, ""},
        {base + " %", false, kErrorNotInstalled, ""},
        {base + " \"%1\" %*", false, kErrorNotInstalled, ""},
        {base + " \"%1\" %1", false, kErrorNotInstalled, ""},
        // Not the Player.
        {"\"C:\\VMware\\vmware.exe\" \"%1\"", false, kErrorNotInstalled, ""},
        {"", false, kErrorNotInstalled, ""},
        {"", true, kErrorNotInstalled, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        std::string out = "untouched";
        const std::size_t length = c.value.size() + (c.withTerminator ? 1 : 0);
        EXPECT_EQ(makePlayerLaunchTemplate(c.value.c_str(), length, &out), c.result);
        EXPECT_EQ(out, c.result == 0 ? c.launchTemplate : "untouched");
    }
}

TEST(PlayerRules, LaunchCommandAndLogPath) {
    EXPECT_EQ(formatLaunchCommand("\"C:\\VMware\\vmplayer.exe\" \"%s\"", "D:\\vm dir\\Velmora.vmx"),
              "\"C:\\VMware\\vmplayer.exe\" \"D:\\vm dir\\Velmora.vmx\"");
    struct Case {
        const char* vmx;
        const char* log;
    } cases[] = {
        {"D:\\vm dir\\Velmora.vmx", "D:\\vm dir\\vmware.log"},
        {"C:\\Velmora.vmx", "C:\\vmware.log"},
        {"Velmora.vmx", "vmware.log"},
        {"/tmp/vm/Velmora.vmx", "/tmp/vm/vmware.log"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vmLogPathFor(c.vmx), c.log) << c.vmx;
    }
}

TEST(PlayerRules, ProgramPathIsTheFirstWordWithoutQuotes) {
    struct Case {
        const char* command;
        const char* program;
    } cases[] = {
        {"\"C:\\Program Files\\VMware\\vmplayer.exe\" \"D:\\a b\\x.vmx\"",
         "C:\\Program Files\\VMware\\vmplayer.exe"},
        {"C:\\VMware\\vmplayer.exe \"D:\\x.vmx\"", "C:\\VMware\\vmplayer.exe"},
        {"C:\\Pro\"gram Fi\"les\\vmplayer.exe x", "C:\\Program Files\\vmplayer.exe"},
        {"vmplayer.exe", "vmplayer.exe"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(commandProgramPath(c.command), c.program) << c.command;
    }
}

TEST(PlayerRules, LicenceTextsFromTheVersionResource) {
    EXPECT_EQ(eulaBuildText(0x00112345u), "\"9029\""); // low 16 bits only
    EXPECT_EQ(eulaBuildText(0), "\"0\"");
    struct Case {
        std::string productVersion; // as the resource gives it, terminator included
        const char* text;
    } cases[] = {
        {std::string("17.5.2 build-23775571") + '\0', "\"23775571\""},
        {"17.5.2 build-23775571", "\"23775571\""},
        {std::string("7.4") + '\0', "\"4\""},
        {std::string("beta") + '\0', "\"\""},
        {std::string("12345678901234567") + '\0', "\"12345678901234"}, // cut to 15 characters
    };
    for (const Case& c : cases) {
        EXPECT_EQ(eulaVersionText(c.productVersion.data(), c.productVersion.size()), c.text)
            << c.productVersion;
    }
}

TEST(PlayerRules, LicenceAcceptanceLines) {
    const char* build = "\"9029\"";
    const char* version = "\"23775571\"";
    struct Case {
        const char* line;
        const char* versionText;
        bool accepted;
    } cases[] = {
        {"pref.eula.0.buildNumber = \"23775571\"\n", version, true},
        {"pref.eula.12.buildNumber=\"9029\"", version, true},
        {"pref.eula.3.buildNumber \"9029\"", version, true},
        {"pref.eula.0.buildNumber = \"1\"", version, false},
        {"pref.eula.0.buildNumber = \"90291\"", version, false}, // the quotes are part of it
        {"pref.eula.buildNumber = \"9029\"", version, false},    // digits required
        {"pref.eula.x.buildNumber = \"9029\"", version, false},
        {"pref.eula.0.buildNumberX = \"9029\"", version, false},
        {"pref.eula.0.buildnumber = \"9029\"", version, false},
        {" pref.eula.0.buildNumber = \"9029\"", version, false},
        {"pref.eula.size = \"9029\"", version, false},
        // Without a product version any well-formed line counts.
        {"pref.eula.0.buildNumber = \"1\"", "", true},
        {"pref.eula.0.buildNumber", "", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isEulaAcceptanceLine(c.line, build, c.versionText), c.accepted) << c.line;
    }
}

TEST(PlayerRules, PreferencesFileScan) {
    testing::TempDir dir;
    const std::string prefs = dir.file("preferences.ini");
    EXPECT_FALSE(preferencesAcceptEula(prefs.c_str(), "\"9029\"", "\"1\"")); // no file

    // The acceptance sits after a line longer than the 256-byte buffer.
    testing::writeText(prefs, "pref.eula.size = \"2\"\n"
                              "hints.hideAll = \"" +
                                  std::string(300, 'x') +
                                  "\"\n"
                                  "pref.eula.1.buildNumber = \"9029\"\n");
    EXPECT_TRUE(preferencesAcceptEula(prefs.c_str(), "\"9029\"", "\"77\""));
    EXPECT_FALSE(preferencesAcceptEula(prefs.c_str(), "\"9030\"", "\"77\""));
    // Without a build number nothing is scanned, not even a line that any version would match.
    EXPECT_FALSE(preferencesAcceptEula(prefs.c_str(), "", ""));

    // Only the start of a line longer than the buffer is looked at: its rest is not a line of its
    // own, even where it reads like an acceptance line (here from the buffer's last byte on).
    const std::string value = "hints.note = \"";
    const std::string lookalike = "pref.eula.0.buildNumber = \"9029\"";
    for (const std::string& end : {std::string("\"\n"), std::string()}) {
        SCOPED_TRACE(end.empty() ? "at the end of the file" : "ended by a newline");
        testing::writeText(prefs, value + std::string(kPlayerLineBuffer - 1 - value.size(), 'x') +
                                      lookalike + end);
        EXPECT_FALSE(preferencesAcceptEula(prefs.c_str(), "\"9029\"", "\"77\""));
        EXPECT_FALSE(preferencesAcceptEula(prefs.c_str(), "\"9029\"", ""));
    }
    // A line that just fills the buffer, its newline read on its own, and then an acceptance.
    testing::writeText(prefs, std::string(kPlayerLineBuffer - 1, 'x') + "\n" + lookalike + "\n");
    EXPECT_TRUE(preferencesAcceptEula(prefs.c_str(), "\"9029\"", "\"77\""));
}

TEST(PlayerRules, ProcessIdFromTheLogsFirstLine) {
    struct Case {
        const char* line;
        std::uint32_t pid;
    } cases[] = {
        {"2024-05-01T10:00:00.000Z In(05) vmx Log for VMware Player pid=4321 version=17.5.2\n",
         4321},
        {"x pid=12x", 12},
        {"x pid=4294967295", 4294967295u},
        {"x pid=4294967296", 0}, // does not fit: no process rather than some other one
        {"x pid=99999999999999999999999", 0},
        {"x pid=", 0},
        {"x pid=abc", 0},
        {"x pid= 12", 0},
        {"pid=12", 0}, // the space is part of the marker
        {"x pid=0", 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(vmPidFromLogLine(c.line), c.pid) << c.line;
    }
}

TEST(PlayerRules, FileNames) {
    const std::uint8_t uuid[16] = {0x56, 0x4d, 0x12, 0x34, 0xab, 0xcd, 0xef, 0x01,
                                   0x23, 0x45, 0x67, 0x89, 0x0a, 0xbc, 0xde, 0xf0};
    EXPECT_EQ(uuidMemoryFileName(uuid), "564d1234-abcd-ef01-2345-67890abcdef0.vmem");

    struct Case {
        const char* exe;
        bool player;
    } cases[] = {
        {"vmplayer.exe", true},
        {"VMPlayer.EXE", true},
        {"C:\\Program Files\\VMware\\vmplayer.exe", true},
        {"vmplayer.exe.bak", false},
        {"myvmplayer.exe", false},
        {"C:\\VMware\\vmware.exe", false},
        {"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isPlayerExecutable(c.exe), c.player) << c.exe;
    }
}

} // namespace
} // namespace velmora::vm
