// The VMware Player backend's text rules: the document command's launch template, the VM log's
// " pid=" line and the preferences file's licence-acceptance lines. One input is used as all of
// them: the registry value, the log's lines and the preferences file. Beyond memory faults the
// target checks what callers rely on (one "%s" in a template, a process id only when the log line
// names it, a file accepted only when one of its lines is an acceptance line).
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "vm/cvmx.h"
#include "vm/player_rules.h"

using namespace velmora::vm;

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_player: %s\n", what);
        std::abort();
    }
}

// The preferences file of this fuzzing process, written for every input and removed after it.
const std::string& preferencesPath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        return std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/fuzz_player." +
               std::to_string(::getpid()) + ".ini";
    }();
    return path;
}

// The lines of a text as a 256-byte line buffer shows them: the start of each line, at most 255
// characters, with its "\n" when that fits too.
std::vector<std::string> bufferedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, std::min(end - start, kPlayerLineBuffer - 1)));
        start = end;
    }
    return lines;
}

// The process id a log line names: the digits after its first " pid=", leading zeros dropped;
// 0 when they are missing or exceed 32 bits.
std::uint32_t expectedPid(const char* line) {
    const char* p = std::strstr(line, " pid=");
    if (p == nullptr) {
        return 0;
    }
    p += 5;
    while (*p == '0') {
        ++p;
    }
    std::size_t digits = 0;
    while (p[digits] >= '0' && p[digits] <= '9') {
        ++digits;
    }
    if (digits > 10) {
        return 0;
    }
    const unsigned long long value = digits == 0 ? 0 : std::strtoull(p, nullptr, 10);
    return value > 0xFFFFFFFFull ? 0 : static_cast<std::uint32_t>(value);
}

void launchTemplate(const std::uint8_t* data, std::size_t size) {
    const char* value = reinterpret_cast<const char*>(data);
    std::string out = "untouched";
    const int r = makePlayerLaunchTemplate(value, size, &out);
    if (r != 0) {
        check(r == kErrorNotInstalled, "template: unexpected result");
        check(out == "untouched", "template: output changed on failure");
        return;
    }
    check(out.size() <= kPlayerTemplateSize, "template: longer than its buffer");
    check(out.find(kPlayerExecutable) != std::string::npos, "template: no vmplayer.exe");
    const std::size_t percent = out.find('%');
    check(percent != std::string::npos && out.compare(percent, 2, "%s") == 0,
          "template: no \"%s\"");
    check(out.find('%', percent + 1) == std::string::npos, "template: a second '%'");
    const std::string command = formatLaunchCommand(out, "D:\\vm\\Velmora.vmx");
    check(command.find('%') == std::string::npos, "command: placeholder left");
    check(command.find("D:\\vm\\Velmora.vmx") != std::string::npos, "command: no VMX path");
    (void)isPlayerExecutable(commandProgramPath(command.c_str()).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    launchTemplate(data, size);

    const std::string text(reinterpret_cast<const char*>(data), size);
    // Licence texts: a real Player's, and ones made from the input (its first bytes as the
    // product version, its text up to the first zero byte as the version string).
    std::uint32_t productVersionLs = 0;
    std::memcpy(&productVersionLs, data, std::min<std::size_t>(size, sizeof productVersionLs));
    const std::string versionText = eulaVersionText(text.data(), text.size());
    check(versionText.size() < kVersionTextSize && !versionText.empty() && versionText[0] == '"',
          "version text: malformed");
    const std::string texts[][2] = {
        {"\"9029\"", "\"23775571\""},
        {eulaBuildText(productVersionLs), versionText},
        {"\"9029\"", ""},
    };

    const std::vector<std::string> lines = bufferedLines(text);
    for (const std::string& line : lines) {
        const char* l = line.c_str();
        check(vmPidFromLogLine(l) == expectedPid(l), "pid: differs from the line");
        (void)vmLogPathFor(l);
        (void)commandProgramPath(l);
        (void)isPlayerExecutable(l);
        for (const auto& t : texts) {
            if (isEulaAcceptanceLine(l, t[0].c_str(), t[1].c_str())) {
                check(std::strncmp(l, "pref.eula.", 10) == 0, "acceptance: not a eula line");
            }
        }
    }

    std::FILE* f = std::fopen(preferencesPath().c_str(), "wb");
    if (f == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !written) {
        std::remove(preferencesPath().c_str());
        return 0;
    }
    for (const auto& t : texts) {
        bool expected = false;
        for (const std::string& line : lines) {
            expected = expected || isEulaAcceptanceLine(line.c_str(), t[0].c_str(), t[1].c_str());
        }
        const bool accepted = preferencesAcceptEula(preferencesPath().c_str(), t[0], t[1]);
        check(accepted == (expected && !t[0].empty()), "preferences: differs from its lines");
    }
    std::remove(preferencesPath().c_str());
    return 0;
}
