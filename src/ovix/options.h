// The command line: getopt_long conventions over "asdvhDSc" and the long names, with argument
// permutation unless POSIXLY_CORRECT is set. The parser is our own, so that the complaints and
// the permutation are the same on every platform.
#pragma once
#include <cstdio>
#include <vector>

namespace velmora::ovix {

enum class Mode { none, attach, server, detach, version, usage };

struct Options {
    Mode mode = Mode::none;
    bool debug = false;
    bool syslog = false; // accepted; changes nothing
    bool capture = false;
    std::vector<const char*> positional; // in command-line order
};

// Reads argv[1..argc-1]. The parser's complaints ("unknown option -- %c", "unknown option -- %s",
// "ambiguous option -- %.*s", "option doesn't take an argument -- %.*s") go to `complaints`
// prefixed with "<argv[0]>: "; an option it rejects is then reported as error "getopt" and
// otherwise ignored. The mode is what the options say; positional-count checks are the caller's.
Options parse_opt(int argc, char* const argv[], bool posixly_correct, std::FILE* complaints);

} // namespace velmora::ovix
