#include <gtest/gtest.h>

#include <cstdarg>
#include <string>

#include "shell/launch.h"

namespace velmora::shell {
namespace {

TEST(UrlTemplate, RegistryCommandRules) {
    struct Case {
        const char* value;
        bool usable;
        const char* expected;
    };
    const std::string long253(253, 'b');
    const std::string long252(252, 'b');
    const Case cases[] = {
        {"\"C:\\Apps\\chrome.exe\" \"%1\"", true, "\"C:\\Apps\\chrome.exe\" \"%s\""},
        {"C:\\Browser\\web.exe", true, "C:\\Browser\\web.exe %s"},
        {"web.exe -url %1 -new", true, "web.exe -url %s -new"},
        {"web.exe \"%1\" %2", false, ""},
        {"web.exe %1 %%", false, ""},
        {"web.exe %L", false, ""},
        {"web.exe %", false, ""},
        {"web.exe %%1", false, ""},
        {"", true, " %s"},
        {long252.c_str(), true, nullptr}, // 252 + " %s" + terminator = 256 bytes
        {long253.c_str(), false, ""},     // one byte too many
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        char out[kUrlTemplateSize];
        EXPECT_EQ(makeUrlTemplate(c.value, out), c.usable);
        if (c.expected != nullptr) {
            EXPECT_STREQ(out, c.expected);
        } else {
            EXPECT_EQ(std::string(out), long252 + " %s");
        }
    }
}

TEST(UrlTemplate, ChromeRuleAndScheme) {
    EXPECT_TRUE(urlTemplateIsChrome("\"C:\\Google\\chrome.exe\" \"%s\""));
    EXPECT_FALSE(urlTemplateIsChrome("chrome.exe %s")); // no folder: not the rule's form
    EXPECT_FALSE(urlTemplateIsChrome("C:\\firefox.exe %s"));

    EXPECT_EQ(urlSchemeLength("http://x"), 4u);
    EXPECT_EQ(urlSchemeLength("mailto:a@b"), 6u);
    EXPECT_EQ(urlSchemeLength(":x"), 0u);
    EXPECT_EQ(urlSchemeLength("noscheme"), 0u);
    EXPECT_EQ(urlSchemeLength(nullptr), 0u);
}

TEST(UrlTemplate, UnsafeUrlsAndCmdEscaping) {
    EXPECT_TRUE(urlIsSafeForCommandLine("http://10.0.0.2:3/console/?a=1&b=%20"));
    EXPECT_FALSE(urlIsSafeForCommandLine("http://x/\" --renderer-cmd-prefix=calc"));
    EXPECT_FALSE(urlIsSafeForCommandLine("http://x/ y"));
    EXPECT_FALSE(urlIsSafeForCommandLine("http://x/\ty"));

    char out[32];
    ASSERT_TRUE(escapeForCmd("http://x/?a=1&b=(2)|^<>", out, sizeof out));
    EXPECT_STREQ(out, "http://x/?a=1^&b=^(2^)^|^^^<^>");
    char small[8];
    EXPECT_FALSE(escapeForCmd("a&b&c&d", small, sizeof small)); // needs 11 bytes
    EXPECT_STREQ(small, "");
    EXPECT_TRUE(escapeForCmd("a&b&c", small, sizeof small)); // exactly 8 bytes
    EXPECT_STREQ(small, "a^&b^&c");
}

TEST(LaunchText, ComPortValues) {
    char comport[16];
    char comportno[16];
    ASSERT_TRUE(comPortVariableValues(7, comport, comportno));
    EXPECT_STREQ(comport, "COM7");
    EXPECT_STREQ(comportno, "7");
    ASSERT_TRUE(comPortVariableValues(255, comport, comportno));
    EXPECT_STREQ(comport, "COM255");
    EXPECT_FALSE(comPortVariableValues(0, comport, comportno));
}

bool format(char (&buffer)[kCommandBufferSize], const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const bool r = formatCommand(buffer, fmt, args);
    va_end(args);
    return r;
}

TEST(LaunchText, FormatIsBounded) {
    char buffer[kCommandBufferSize];
    EXPECT_TRUE(format(buffer, "cmd /c \"%s>%s\"", "dir", "tmpabc"));
    EXPECT_STREQ(buffer, "cmd /c \"dir>tmpabc\"");
    const std::string fits(1023, 'x');
    EXPECT_TRUE(format(buffer, "%s", fits.c_str()));
    const std::string over(1024, 'x');
    EXPECT_FALSE(format(buffer, "%s", over.c_str()));
    EXPECT_EQ(std::string(buffer), fits); // cut, terminated
}

TEST(LaunchText, CrLfBecomesLf) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"one\r\ntwo\r\n", "one\ntwo\n"},
        {"lone\rcr\n", "lone\rcr\n"},
        {"end\r", "end\r"},
        {"\r\r\n", "\r\n"},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string text = c.in;
        text.resize(crlfToLf(text.data(), text.size()));
        EXPECT_EQ(text, c.out);
    }
}

} // namespace
} // namespace velmora::shell
