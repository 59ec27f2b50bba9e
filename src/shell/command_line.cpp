#include "shell/command_line.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace velmora::shell {
namespace {

bool isSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

// Case-insensitive match of `name` against the text at p over the name's length only.
bool optionMatches(const char* p, const char* name) {
    for (; *name != '\0'; ++p, ++name) {
        if (*p == '\0' || lower(*p) != lower(*name)) {
            return false;
        }
    }
    return true;
}

// Reads a decimal integer as atoi does (leading white space and a sign allowed, anything else
// gives 0), clamped to 32 bits instead of overflowing.
std::int32_t readNumber(const char* p) {
    const long long v = std::strtoll(p, nullptr, 10);
    if (v > INT32_MAX) {
        return INT32_MAX;
    }
    if (v < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(v);
}

} // namespace

OptionTable makeOptionTable() {
    return OptionTable{{
        {"start", 0, 0, 0},
        {"stop", 0, 0, 0},
        {"install", 0, 0, 0},
        {"remove", 0, 0, 0},
        {"exit", 0, 0, 0},
        {"xstatus", 1, 0, 0},
        {"browse", 0, 0, 0},
        {nullptr, 0, 0, 0},
    }};
}

OptionTable& programOptions() {
    static OptionTable table = makeOptionTable();
    return table;
}

std::string parseCommandLine(const char* line, OptionTable& table) {
    if (line == nullptr) {
        return kDefaultVmxFile;
    }
    CommandLineOption* waitingForNumber = nullptr;
    const char* p = line;
    for (;;) {
        while (isSpace(*p)) {
            ++p;
        }
        if (*p == '\0') {
            return kDefaultVmxFile;
        }
        const char* token = p;
        while (*p != '\0' && !isSpace(*p)) {
            ++p;
        }
        if (waitingForNumber != nullptr) {
            // The token is the number, whatever it looks like ("-5", "abc" -> 0).
            waitingForNumber->value = readNumber(token);
            waitingForNumber = nullptr;
            continue;
        }
        if (*token != '-') {
            return std::string(token); // the rest of the line, unchanged
        }
        for (CommandLineOption* row = table.rows; row->name != nullptr; ++row) {
            if (optionMatches(token + 1, row->name)) {
                row->present = 1;
                if (row->takesNumber != 0) {
                    waitingForNumber = row;
                }
                break;
            }
        }
    }
}

std::string instanceMutexName(const std::string& vmxPath) {
    std::string name = "Global\\";
    name.reserve(name.size() + vmxPath.size());
    for (char c : vmxPath) {
        name.push_back(c == '\\' ? '/' : lower(c));
    }
    return name;
}

void upperDriveLetter(std::string& path) {
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        path[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    }
}

void canonicalPathCase(std::string& path, const PathLookup& lookup, const EnterFolder& enter) {
    upperDriveLetter(path);
    // Where the first component after the root begins.
    std::size_t pos = 0;
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':') {
        pos = 2;
    } else if (path.rfind("\\\\", 0) == 0) {
        // "\\server\share": the server and the share are the root, not components.
        pos = 2;
        for (int part = 0; part < 2 && pos != std::string::npos; ++part) {
            pos = path.find('\\', pos);
            if (pos != std::string::npos && part == 0) {
                ++pos;
            }
        }
        if (pos == std::string::npos) {
            return;
        }
    }
    while (pos < path.size()) {
        while (pos < path.size() && path[pos] == '\\') {
            ++pos;
        }
        if (pos >= path.size()) {
            break;
        }
        std::size_t end = path.find('\\', pos);
        const bool last = end == std::string::npos;
        if (last) {
            end = path.size();
        }
        std::string stored;
        if (lookup(path.substr(0, end), &stored) && stored.size() == end - pos) {
            path.replace(pos, end - pos, stored);
        }
        if (!last) {
            enter(path.substr(0, end));
        }
        pos = end;
    }
}

std::string conflictMessage(const std::string& exeName) {
    const bool found = !exeName.empty();
    const char* separator = found ? "\n" : " ";
    const char* name = found ? exeName.c_str() : "the other application";
    char text[772];
    std::snprintf(text, sizeof text,
                  "A conflicting application is already running.\nThese two applications can't "
                  "run concurrently without disturbing each other's operation.\n\nPlease shut "
                  "down%s%s%sfirst, then press Retry.\nPress Abort to abort the start of this "
                  "%s.\nPress Ignore to continue anyway.",
                  separator, name, separator, "Velmora");
    return text;
}

} // namespace velmora::shell
