#include "vm/player_rules.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "vm/cvmx.h"

namespace velmora::vm {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

} // namespace

int makePlayerLaunchTemplate(const char* data, std::size_t length, std::string* out) {
    // The value ends at its terminator, if it carries one.
    std::size_t n = 0;
    while (n < length && data[n] != '\0') {
        ++n;
    }
    if (n == 0 || n > kPlayerTemplateSize) {
        return kErrorNotInstalled;
    }
    std::string value(data, n);
    if (value.find(kPlayerExecutable) == std::string::npos) {
        return kErrorNotInstalled;
    }
    const std::size_t percent = value.find('%');
    if (percent == std::string::npos) {
        if (n + 5 >= kPlayerTemplateSize) {
            return kErrorNotInstalled;
        }
        value += " \"%s\"";
    } else {
        // "%1" becomes the one placeholder; anything else could be read as a format directive.
        if (percent + 1 >= n || value[percent + 1] != '1') {
            return kErrorNotInstalled;
        }
        value[percent + 1] = 's';
        if (value.find('%', percent + 2) != std::string::npos) {
            return kErrorNotInstalled;
        }
    }
    *out = std::move(value);
    return 0;
}

std::string formatLaunchCommand(const std::string& launchTemplate, const char* vmxPath) {
    std::string command = launchTemplate;
    const std::size_t placeholder = command.find("%s");
    if (placeholder != std::string::npos) {
        command.replace(placeholder, 2, vmxPath != nullptr ? vmxPath : "");
    }
    return command;
}

std::string vmLogPathFor(const char* vmxPath) {
    const std::string path = vmxPath != nullptr ? vmxPath : "";
    const std::size_t separator = path.find_last_of("\\/");
    std::string log =
        separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
    return log + kVmLogName;
}

std::string commandProgramPath(const char* command) {
    std::string program;
    bool quoted = false;
    for (const char* p = command; p != nullptr && *p != '\0'; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (*p == ' ' && !quoted) {
            break;
        }
        program += *p;
    }
    return program;
}

std::string eulaBuildText(std::uint32_t productVersionLs) {
    char text[16];
    std::snprintf(text, sizeof text, "\"%u\"", static_cast<unsigned>(productVersionLs & 0xFFFFu));
    return text;
}

std::string eulaVersionText(const char* productVersion, std::size_t length) {
    if (productVersion == nullptr) {
        return {};
    }
    std::size_t end = 0;
    while (end < length && productVersion[end] != '\0') {
        ++end;
    }
    std::size_t begin = end;
    while (begin > 0 && isDigit(productVersion[begin - 1])) {
        --begin;
    }
    char text[kVersionTextSize];
    std::snprintf(text, sizeof text, "\"%.*s\"", static_cast<int>(end - begin),
                  productVersion + begin);
    return text;
}

bool isEulaAcceptanceLine(const char* line, const char* buildText, const char* versionText) {
    static constexpr char kPrefix[] = "pref.eula.";
    static constexpr char kBuildNumber[] = ".buildNumber";
    const char* p = line;
    if (std::strncmp(p, kPrefix, sizeof kPrefix - 1) != 0) {
        return false;
    }
    p += sizeof kPrefix - 1;
    if (!isDigit(*p)) {
        return false;
    }
    while (isDigit(*p)) {
        ++p;
    }
    if (std::strncmp(p, kBuildNumber, sizeof kBuildNumber - 1) != 0) {
        return false;
    }
    p += sizeof kBuildNumber - 1;
    if (*p != ' ' && *p != '=') {
        return false;
    }
    ++p;
    return std::strstr(p, buildText) != nullptr || std::strstr(p, versionText) != nullptr;
}

bool preferencesAcceptEula(const char* path, const std::string& buildText,
                           const std::string& versionText) {
    if (buildText.empty()) {
        return false;
    }
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) {
        return false;
    }
    // Only the start of each line, as much as the buffer holds, is looked at. The rest of a longer
    // line is skipped: read as a line of its own, text inside some value could pass for an
    // acceptance.
    bool accepted = false;
    char line[kPlayerLineBuffer];
    int c = 0;
    while (!accepted && c != EOF) {
        std::size_t n = 0;
        while (n < sizeof line - 1 && (c = std::getc(f)) != EOF) {
            line[n++] = static_cast<char>(c);
            if (c == '\n') {
                break;
            }
        }
        line[n] = '\0';
        if (n == 0) {
            break; // the end of the file
        }
        accepted = isEulaAcceptanceLine(line, buildText.c_str(), versionText.c_str());
        if (n == sizeof line - 1 && line[n - 1] != '\n') {
            while ((c = std::getc(f)) != EOF && c != '\n') {
            }
        }
    }
    std::fclose(f);
    return accepted;
}

std::uint32_t vmPidFromLogLine(const char* line) {
    const char* p = std::strstr(line, " pid=");
    if (p == nullptr) {
        return 0;
    }
    p += 5;
    std::uint64_t pid = 0;
    for (; isDigit(*p); ++p) {
        pid = pid * 10 + static_cast<std::uint64_t>(*p - '0');
        if (pid > 0xFFFFFFFFu) {
            return 0; // not a process id: better none than some other process
        }
    }
    return static_cast<std::uint32_t>(pid);
}

std::string uuidMemoryFileName(const std::uint8_t uuid[16]) {
    std::string name;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            name += '-';
        }
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", uuid[i]);
        name += hex;
    }
    return name + ".vmem";
}

bool isPlayerExecutable(const char* exePath) {
    if (exePath == nullptr) {
        return false;
    }
    const char* name = exePath;
    for (const char* p = exePath; *p != '\0'; ++p) {
        if (*p == '\\') {
            name = p + 1;
        }
    }
    const std::size_t n = std::strlen(kPlayerExecutable);
    if (std::strlen(name) != n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (lower(name[i]) != kPlayerExecutable[i]) {
            return false;
        }
    }
    return true;
}

} // namespace velmora::vm
