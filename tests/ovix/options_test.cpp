// The command line: the getopt_long rules as a table of argument lists, and the program's
// answers (usage, version, detach, exit codes) through its entry point.
#include "ovix/options.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture_stream.h"
#include "ovix/ovix.h"
#include "ovix/texts.h"
#include "ovix_test_env.h"

namespace velmora::ovix {
namespace {

using testing::ReportCapture;
using testing::TextSink;

struct Argv {
    explicit Argv(std::vector<std::string> args) : strings(std::move(args)) {
        strings.insert(strings.begin(), "ovix.exe");
        for (std::string& s : strings) {
            pointers.push_back(s.data());
        }
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(strings.size()); }
    char** argv() { return pointers.data(); }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

struct ParseCase {
    std::vector<std::string> args;
    bool posixly_correct;
    Mode mode;
    std::vector<std::string> positional;
    bool debug, syslog, capture;
    std::string complaint; // expected parser complaint ("" for none)
};

std::vector<std::string> strings(const std::vector<const char*>& in) {
    return {in.begin(), in.end()};
}

TEST(ParseOpt, FollowsGetoptLongRules) {
    const ParseCase cases[] = {
        {{}, false, Mode::none, {}, false, false, false, ""},
        {{"-D"}, false, Mode::none, {}, true, false, false, ""},
        {{"-a", "host", "guid"}, false, Mode::attach, {"host", "guid"}, false, false, false, ""},
        {{"--attach", "host", "guid"},
         false,
         Mode::attach,
         {"host", "guid"},
         false,
         false,
         false,
         ""},
        {{"-s", "guid"}, false, Mode::server, {"guid"}, false, false, false, ""},
        {{"--server", "guid"}, false, Mode::server, {"guid"}, false, false, false, ""},
        {{"-d", "g1", "g2", "g3"},
         false,
         Mode::detach,
         {"g1", "g2", "g3"},
         false,
         false,
         false,
         ""},
        {{"--detach"}, false, Mode::detach, {}, false, false, false, ""},
        {{"-v"}, false, Mode::version, {}, false, false, false, ""},
        {{"--version"}, false, Mode::version, {}, false, false, false, ""},
        {{"-h"}, false, Mode::usage, {}, false, false, false, ""},
        {{"--help"}, false, Mode::usage, {}, false, false, false, ""},
        // Flags change nothing else; -S is accepted and ignored.
        {{"-D", "-S", "-c", "-s", "g"}, false, Mode::server, {"g"}, true, true, true, ""},
        {{"--debug", "--syslog", "--capture", "-s", "g"},
         false,
         Mode::server,
         {"g"},
         true,
         true,
         true,
         ""},
        // A cluster of short options.
        {{"-aDc", "h", "g"}, false, Mode::attach, {"h", "g"}, true, false, true, ""},
        // Two modes, or -v after a mode, give usage.
        {{"-a", "-d", "g"}, false, Mode::usage, {"g"}, false, false, false, ""},
        {{"-v", "-a", "h", "g"}, false, Mode::usage, {"h", "g"}, false, false, false, ""},
        {{"-a", "-v"}, false, Mode::usage, {}, false, false, false, ""},
        {{"-a", "-a", "h", "g"}, false, Mode::usage, {"h", "g"}, false, false, false, ""},
        {{"-h", "-a", "h", "g"}, false, Mode::usage, {"h", "g"}, false, false, false, ""},
        // Permutation: options after positional arguments still count...
        {{"host", "-a", "guid", "-D"},
         false,
         Mode::attach,
         {"host", "guid"},
         true,
         false,
         false,
         ""},
        // ...unless POSIXLY_CORRECT is set: the first non-option ends the options.
        {{"-a", "host", "-D", "guid"},
         true,
         Mode::attach,
         {"host", "-D", "guid"},
         false,
         false,
         false,
         ""},
        {{"host", "-a"}, true, Mode::none, {"host", "-a"}, false, false, false, ""},
        // "--" ends the options; "-" alone is a positional argument.
        {{"-a", "--", "-h", "g"}, false, Mode::attach, {"-h", "g"}, false, false, false, ""},
        {{"-d", "-"}, false, Mode::detach, {"-"}, false, false, false, ""},
        // Unique abbreviations of long names are accepted, ambiguous ones are not.
        {{"--att", "h", "g"}, false, Mode::attach, {"h", "g"}, false, false, false, ""},
        {{"--ver"}, false, Mode::version, {}, false, false, false, ""},
        {{"--de", "g"},
         false,
         Mode::none,
         {"g"},
         false,
         false,
         false,
         "ovix.exe: ambiguous option -- de\n"},
        {{"--s", "g"},
         false,
         Mode::none,
         {"g"},
         false,
         false,
         false,
         "ovix.exe: ambiguous option -- s\n"},
        // Unknown options and arguments to options are complained about and ignored.
        {{"-x", "-v"},
         false,
         Mode::version,
         {},
         false,
         false,
         false,
         "ovix.exe: unknown option -- x\n"},
        {{"-:"}, false, Mode::none, {}, false, false, false, "ovix.exe: unknown option -- :\n"},
        {{"--frobnicate=3"},
         false,
         Mode::none,
         {},
         false,
         false,
         false,
         "ovix.exe: unknown option -- frobnicate=3\n"},
        {{"--version=2"},
         false,
         Mode::none,
         {},
         false,
         false,
         false,
         "ovix.exe: option doesn't take an argument -- version\n"},
        {{"--debug=yes", "-v"},
         false,
         Mode::version,
         {},
         false,
         false,
         false,
         "ovix.exe: option doesn't take an argument -- debug\n"},
    };
    for (const ParseCase& c : cases) {
        Argv argv(c.args);
        std::string line;
        for (const std::string& a : c.args) {
            line += a + " ";
        }
        SCOPED_TRACE(line + (c.posixly_correct ? "(POSIXLY_CORRECT)" : ""));
        TextSink complaints;
        ReportCapture reports;
        const Options o =
            parse_opt(argv.argc(), argv.argv(), c.posixly_correct, complaints.stream());
        EXPECT_EQ(o.mode, c.mode);
        EXPECT_EQ(strings(o.positional), c.positional);
        EXPECT_EQ(o.debug, c.debug);
        EXPECT_EQ(o.syslog, c.syslog);
        EXPECT_EQ(o.capture, c.capture);
        EXPECT_EQ(complaints.text(), c.complaint);
        // Every rejected option is also reported as a getopt error of parse_opt.
        if (c.complaint.empty()) {
            EXPECT_EQ(reports.text(), "");
        } else {
            EXPECT_TRUE(reports.text().find("(parse_opt   ) getopt\n") != std::string::npos)
                << reports.text();
        }
    }
}

std::string usage_for(const char* program) {
    char text[2048];
    std::snprintf(text, sizeof text, kUsageFormat, program);
    return text;
}

struct MainCase {
    std::vector<std::string> args;
    std::string out; // "usage" stands for the usage text
};

TEST(OvixMain, PrintsUsageOrVersionAndExitsZero) {
    const std::string version = "ovix for windows (0.1.0.0)\n";
    const MainCase cases[] = {
        {{}, "usage"},
        {{"-D"}, "usage"},
        {{"-h"}, "usage"},
        {{"--help"}, "usage"},
        {{"-a", "onlyhost"}, "usage"},
        {{"-a", "h", "g", "extra"}, "usage"},
        {{"-s"}, "usage"},
        {{"-s", "g1", "g2"}, "usage"},
        {{"-a", "-d", "g"}, "usage"},
        {{"-v", "-a", "h", "g"}, "usage"},
        {{"-x"}, "usage"},
        {{"-v"}, version},
        {{"--version", "-D"}, version},
        {{"-d"}, ""},
    };
    for (const MainCase& c : cases) {
        Argv argv(c.args);
        std::string line;
        for (const std::string& a : c.args) {
            line += a + " ";
        }
        SCOPED_TRACE(line);
        TextSink out;
        ReportCapture reports;
        EXPECT_EQ(ovix_main(argv.argc(), argv.argv(), out.stream()), 0);
        EXPECT_EQ(out.text(), c.out == "usage" ? usage_for("ovix.exe") : c.out);
        // The banner comes first on the log, then nothing but parser reports.
        const std::string log = reports.text();
        EXPECT_EQ(log.rfind("ovix for windows (0.1.0.0)\n\n", 0), 0u) << log;
    }
}

TEST(OvixMain, UsageTextIsExact) {
    EXPECT_EQ(usage_for("ovix"),
              "Usage: ovix [options]\t\t\t\t\n\t-a, --attach <host> <tapguid>\t\t\n\t\tAttach a "
              "remote L2 switch.\t\n\t\t\t\t\t\t\n\t-s, --server <tapguid>\t\t\t\n\t\tRun as L2 "
              "switch server.\t\n\t\t\t\t\t\t\n\t-d, --detach <tapguid>\t\t\t\n\t\tDetach from L2 "
              "switch.\t\n\t\t\t\t\t\t\n\t-D, --debug\t\t\t\t\n\t\tPrint debugging "
              "information.\t\n\t\t\t\t\t\t\n\t-v, --version\t\t\t\t\n\t\tShow "
              "version.\t\t\t\n\t\t\t\t\t\t\n\t-h, --help \t\t\t\t\n\t\tPrint this help.\t\t\n");
}

TEST(OvixMain, DetachSetsTheStopObjectOfEveryNamedAdapter) {
    testing::StopFolder folder;
    const std::string base = testing::unique_name("det");
    const std::string names[4] = {base + "a", base + "b", base + "c", base + "other"};
    event_t held[4];
    for (int i = 0; i < 4; ++i) {
        held[i] = stop_event_open(names[i].c_str());
        ASSERT_NE(held[i], kNoEvent);
        EXPECT_FALSE(stop_event_is_set(held[i]));
    }
    Argv argv({"-d", names[0], names[1], names[2]});
    TextSink out;
    ReportCapture reports;
    EXPECT_EQ(ovix_main(argv.argc(), argv.argv(), out.stream()), 0);
    EXPECT_EQ(out.text(), "");
    EXPECT_TRUE(stop_event_is_set(held[0]));
    EXPECT_TRUE(stop_event_is_set(held[1]));
    EXPECT_TRUE(stop_event_is_set(held[2]));
    EXPECT_FALSE(stop_event_is_set(held[3]));
    EXPECT_FALSE(reports.has("ovix err"));
    for (event_t e : held) {
        stop_event_close(e);
    }
}

TEST(OvixMain, DetachWithoutHolderHasNoLastingEffect) {
    testing::StopFolder folder;
    const std::string name = testing::unique_name("nohold");
    ReportCapture reports;
    detach_device(name.c_str());
    EXPECT_FALSE(reports.has("ovix err"));
    // A later holder starts clear: the stop went away with the detach.
    const event_t e = stop_event_open(name.c_str());
    ASSERT_NE(e, kNoEvent);
    EXPECT_FALSE(stop_event_is_set(e));
    stop_event_close(e);
}

} // namespace
} // namespace velmora::ovix
