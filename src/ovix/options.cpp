#include "ovix/options.h"

#include <cstdarg>
#include <cstring>
#include <iterator>

#include "ovix/log.h"

namespace velmora::ovix {
namespace {

constexpr char kShortOptions[] = "asdvhDSc";

struct LongOption {
    const char* name;
    char value;
};
constexpr LongOption kLongOptions[] = {
    {"attach", 'a'}, {"server", 's'}, {"detach", 'd'}, {"version", 'v'},
    {"help", 'h'},   {"debug", 'D'},  {"syslog", 'S'}, {"capture", 'c'},
};

constexpr char kRejected = '?';

#if defined(__GNUC__)
__attribute__((format(printf, 3, 4)))
#endif
void complain(std::FILE* out, const char* program, const char* format, ...) {
    if (out == nullptr) {
        return;
    }
    std::fprintf(out, "%s: ", program);
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fputc('\n', out);
    std::fflush(out);
}

// "--name" or "--name=value" without the leading dashes.
char long_option(const char* text, const char* program, std::FILE* out) {
    const char* equals = std::strchr(text, '=');
    const std::size_t length =
        equals != nullptr ? static_cast<std::size_t>(equals - text) : std::strlen(text);
    int match = -1;
    bool ambiguous = false;
    for (int i = 0; i < static_cast<int>(std::size(kLongOptions)); ++i) {
        const char* name = kLongOptions[i].name;
        if (std::strncmp(name, text, length) != 0) {
            continue;
        }
        if (std::strlen(name) == length) { // an exact match wins over abbreviations
            match = i;
            ambiguous = false;
            break;
        }
        if (match < 0) {
            match = i;
        } else {
            ambiguous = true;
        }
    }
    if (ambiguous) {
        complain(out, program, "ambiguous option -- %.*s", static_cast<int>(length), text);
        return kRejected;
    }
    if (match < 0) {
        complain(out, program, "unknown option -- %s", text);
        return kRejected;
    }
    if (equals != nullptr) {
        complain(out, program, "option doesn't take an argument -- %.*s", static_cast<int>(length),
                 text);
        return kRejected;
    }
    return kLongOptions[match].value;
}

void apply(char value, Options& options) {
    switch (value) {
    case 'a':
    case 's':
    case 'd':
        if (options.mode == Mode::none) {
            options.mode = value == 'a' ? Mode::attach : value == 's' ? Mode::server : Mode::detach;
        } else {
            options.mode = Mode::usage;
        }
        break;
    case 'h':
        options.mode = Mode::usage;
        break;
    case 'v':
        options.mode = options.mode == Mode::none ? Mode::version : Mode::usage;
        break;
    case 'D':
        options.debug = true;
        break;
    case 'S':
        options.syslog = true;
        break;
    case 'c':
        options.capture = true;
        break;
    default:
        OVIX_ERR(kSourceOvix, "parse_opt", "getopt\n");
        break;
    }
}

} // namespace

Options parse_opt(int argc, char* const argv[], bool posixly_correct, std::FILE* complaints) {
    Options options;
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "ovix";
    bool options_ended = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_ended || arg[0] != '-' || arg[1] == '\0') {
            options.positional.push_back(arg);
            // Without permutation the first non-option ends the options.
            if (posixly_correct) {
                options_ended = true;
            }
            continue;
        }
        if (arg[1] == '-') {
            if (arg[2] == '\0') {
                options_ended = true;
                continue;
            }
            apply(long_option(arg + 2, program, complaints), options);
            continue;
        }
        for (const char* c = arg + 1; *c != '\0'; ++c) {
            if (*c != ':' && std::strchr(kShortOptions, *c) != nullptr) {
                apply(*c, options);
            } else {
                complain(complaints, program, "unknown option -- %c", *c);
                apply(kRejected, options);
            }
        }
    }
    return options;
}

} // namespace velmora::ovix
