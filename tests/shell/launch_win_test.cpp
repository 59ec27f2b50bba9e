#include <windows.h>
// after windows.h, which it needs
#include <aclapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/unique_handle.h"
#include "shell/launch.h"
#include "shell/standin_dir.h"

namespace velmora::shell {
namespace {

using testing::StandinDir;

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The first process id the stand-in wrote to the file; 0 when none came within 5 s.
DWORD waitForPid(const std::string& pidFile) {
    DWORD pid = 0;
    for (int i = 0; i < 100 && pid == 0; ++i) {
        pid = std::strtoul(StandinDir::read(pidFile).c_str(), nullptr, 10);
        if (pid == 0) {
            ::Sleep(50);
        }
    }
    return pid;
}

// The access list of a kernel object: "null" (everyone may do anything), "set", or why it could
// not be read.
std::string objectDacl(HANDLE object) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD r = ::GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                      nullptr, &dacl, nullptr, &descriptor);
    if (r != ERROR_SUCCESS) {
        return "error " + std::to_string(r);
    }
    const std::string text = dacl == nullptr ? "null" : "set";
    ::LocalFree(descriptor);
    return text;
}

class Launch : public ::testing::Test {
protected:
    void TearDown() override { setComPortNumberSource(nullptr, nullptr); }
    StandinDir dir;
};

TEST_F(Launch, ResultsOfStartedWaitedAndUnstartableCommands) {
    const std::string tool = dir.add("tool.exe", "exit=3\n");
    EXPECT_EQ(runCommand(kWaitForever, 0, "%s first second", tool.c_str()), 3u);
    EXPECT_EQ(runCommand(5000, CREATE_NO_WINDOW, "%s again", tool.c_str()), 3u);

    // Not waited: 0 whatever the child does.
    EXPECT_EQ(runCommand(0, 0, "%s nowait", tool.c_str()), 0u);
    const auto lines = dir.waitForLogLines(3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], tool + " first second");
    EXPECT_EQ(lines[2], tool + " nowait");

    EXPECT_EQ(runCommand(1000, 0, "%s", dir.file("missing.exe").c_str()),
              static_cast<uint32_t>(ERROR_FILE_NOT_FOUND));
    // A command line that would only fit cut is not started.
    const std::string longArg(1100, 'a');
    EXPECT_EQ(runCommand(1000, 0, "%s %s", tool.c_str(), longArg.c_str()),
              kErrorInsufficientBuffer);
    EXPECT_EQ(dir.logLines().size(), 3u);
}

TEST_F(Launch, TimedOutWaitGives259AndTheChildKeepsRunning) {
    const std::string pidFile = dir.file("pid.txt");
    const std::string tool = dir.add("stay.exe", "stay=1\npid_file=" + pidFile + "\n");
    EXPECT_EQ(runCommand(300, 0, "%s", tool.c_str()), kStillActive);
    ASSERT_EQ(dir.waitForLogLines(1).size(), 1u);
    const DWORD pid = waitForPid(pidFile);
    ASSERT_NE(pid, 0u);
    unique_handle child(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    ASSERT_TRUE(child);
    EXPECT_EQ(::WaitForSingleObject(child.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ::TerminateProcess(child.get(), 1);
    ::WaitForSingleObject(child.get(), 5000);
}

// Children run with this program's administrator rights (and some commands come from the
// appliance): no other user's process may open them, so the process may not carry a null access
// list. Both start paths, and the desktop-user path's fallback to this program's own token, are
// checked. (Wine gives threads no access list at all, so only the process can be checked here.)
TEST_F(Launch, StartedProcessesKeepAnAccessList) {
    struct Case {
        const char* name;
        DesktopTokenSource tokens; // for the desktop-user path; null: runCommand
    };
    const Case cases[] = {
        {"own", nullptr},
        {"desktop",
         []() {
             unique_handle own;
             unique_handle primary;
             if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put())) {
                 ::DuplicateTokenEx(own.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                                    TokenPrimary, primary.put());
             }
             return primary;
         }},
        {"fallback", []() { return unique_handle(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string pidFile = dir.file(std::string(c.name) + ".pid");
        const std::string tool =
            dir.add(std::string(c.name) + ".exe", "stay=1\npid_file=" + pidFile + "\n");
        if (c.tokens == nullptr) {
            ASSERT_EQ(runCommand(0, 0, "%s", tool.c_str()), 0u);
        } else {
            setDesktopTokenSource(c.tokens);
            const uint32_t result = runCommandAsDesktopUser(0, 0, "%s", tool.c_str());
            setDesktopTokenSource(nullptr);
            ASSERT_EQ(result, 0u);
        }
        const DWORD pid = waitForPid(pidFile);
        ASSERT_NE(pid, 0u);
        unique_handle child(
            ::OpenProcess(READ_CONTROL | PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        ASSERT_TRUE(child);
        EXPECT_EQ(objectDacl(child.get()), "set");
        ::TerminateProcess(child.get(), 1);
        ::WaitForSingleObject(child.get(), 5000);
    }
}

TEST_F(Launch, ComPortVariablesAreExportedAndExpanded) {
    ::SetEnvironmentVariableA("comport", nullptr);
    ::SetEnvironmentVariableA("comportno", nullptr);
    const std::string tool = dir.add("tool.exe");
    int port = 7;
    setComPortNumberSource([](void* p) { return *static_cast<int*>(p); }, &port);
    EXPECT_EQ(runCommand(kWaitForever, 0, "%s %%comport%% %%comportno%%", tool.c_str()), 0u);
    // Port 0: the variables keep the values they had.
    port = 0;
    EXPECT_EQ(runCommand(kWaitForever, 0, "%s %%comport%%", tool.c_str()), 0u);
    const auto lines = dir.waitForLogLines(2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], tool + " COM7 7");
    EXPECT_EQ(lines[1], tool + " COM7");
}

TEST_F(Launch, CapturedOutputHasLfLineEndsAndNoTemporaryFileRemains) {
    const std::string tool = dir.add("lister.exe", "stdout=first line\\nsecond line\\n\nexit=4\n");
    std::unique_ptr<char[]> output;
    EXPECT_EQ(runCommandCaptured(&output, "%s list", tool.c_str()), 4u);
    ASSERT_TRUE(output);
    EXPECT_STREQ(output.get(), "first line\nsecond line\n");
    EXPECT_TRUE(dir.filesStartingWith("tmp").empty());

    // Nothing printed: no text; a program that cannot start: cmd's failure, still no file.
    const std::string quiet = dir.add("quiet.exe");
    EXPECT_EQ(runCommandCaptured(&output, "%s", quiet.c_str()), 0u);
    EXPECT_FALSE(output);
    EXPECT_NE(runCommandCaptured(&output, "%s", dir.file("missing.exe").c_str()), 0u);
    EXPECT_FALSE(output);
    EXPECT_TRUE(dir.filesStartingWith("tmp").empty());
}

// Registry commands for test-only schemes and program ids, removed again at the end.
class OpenUrl : public Launch {
protected:
    void SetUp() override {
        setDesktopTokenSource([]() {
            ++tokenRequests;
            unique_handle own;
            unique_handle primary;
            if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put())) {
                ::DuplicateTokenEx(own.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                                   TokenPrimary, primary.put());
            }
            return primary;
        });
        tokenRequests = 0;
    }
    void TearDown() override {
        setDesktopTokenSource(nullptr);
        for (const char* key :
             {"VelmoraTest.ChromeUrl", "velmoratest1", "velmoratest2", "velmoratest3"}) {
            ::RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
        }
        ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\Shell\\Associations\\"
                                            "UrlAssociations\\velmoratest1");
        Launch::TearDown();
    }
    static void setValue(HKEY root, const std::string& key, const char* name,
                         const std::string& value) {
        unique_hkey k;
        ASSERT_EQ(::RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                    k.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExA(k.get(), name, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1)),
                  ERROR_SUCCESS);
    }
    static void setCommand(const std::string& classKey, const std::string& command) {
        setValue(HKEY_CLASSES_ROOT, classKey + "\\shell\\open\\command", nullptr, command);
    }

    static inline int tokenRequests = 0;
};

TEST_F(OpenUrl, UserChoiceChromeRunsWithTheProgramsOwnToken) {
    const std::string chrome = dir.add("chrome.exe");
    setValue(HKEY_CURRENT_USER,
             "Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\velmoratest1\\"
             "UserChoice",
             "Progid", "VelmoraTest.ChromeUrl");
    setCommand("VelmoraTest.ChromeUrl", "\"" + chrome + "\" --single-argument \"%1\"");
    // The scheme's own command must not be used when UserChoice names a program id.
    setCommand("velmoratest1", "\"" + dir.file("other.exe") + "\" \"%1\"");

    EXPECT_EQ(openUrl("velmoratest1://host/console/"), 0u);
    const auto lines = dir.waitForLogLines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "\"" + chrome + "\" --single-argument \"velmoratest1://host/console/\"");
    EXPECT_EQ(tokenRequests, 0);
}

TEST_F(OpenUrl, TemplateWithoutPlaceholderGetsTheUrlAppendedAsDesktopUser) {
    const std::string browser = dir.add("browser.exe");
    setCommand("velmoratest2", browser);
    EXPECT_EQ(openUrl("velmoratest2:page"), 0u);
    const auto lines = dir.waitForLogLines(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], browser + " velmoratest2:page");
    EXPECT_EQ(tokenRequests, 1);
}

TEST_F(OpenUrl, UnusableTemplateFallsBackToCmdStartAsDesktopUser) {
    // "%1" and a second "%": not usable here. cmd's start hands the URL to the shell, which
    // finds this same command and fills both placeholders itself, so the stand-in still runs.
    const std::string browser = dir.add("browser.exe");
    setCommand("velmoratest3", "\"" + browser + "\" \"%1\" %2");
    EXPECT_EQ(openUrl("velmoratest3:a&b"), 0u);
    const auto lines = dir.waitForLogLines(1);
    ASSERT_EQ(lines.size(), 1u);
    // The '&' reached the browser inside the URL; cmd ran nothing called "b".
    EXPECT_NE(lines[0].find("velmoratest3:a&b"), std::string::npos) << lines[0];
    EXPECT_TRUE(endsWith(lines[0].substr(0, lines[0].find(" ")), "browser.exe\"")) << lines[0];
    EXPECT_EQ(tokenRequests, 1);
}

TEST_F(OpenUrl, UrlsWithoutSchemeOrWithQuotesAreRefused) {
    EXPECT_EQ(openUrl("no-scheme-here"), kErrorInvalidParameter);
    EXPECT_EQ(openUrl(":nothing"), kErrorInvalidParameter);
    EXPECT_EQ(openUrl("velmoratest2:x\" --evil"), kErrorInvalidParameter);
    EXPECT_EQ(tokenRequests, 0);
}

} // namespace
} // namespace velmora::shell
