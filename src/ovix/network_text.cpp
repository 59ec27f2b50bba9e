#include <cstring>

#include "ovix/network.h"

namespace velmora::ovix {

std::string one_line(const char* text, std::size_t limit) {
    std::string line;
    for (const char* c = text; *c != '\0' && line.size() < limit; ++c) {
        line.push_back(*c == '\r' || *c == '\n' ? ' ' : *c);
    }
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    return line;
}

void split_host_port(const char* text, std::string* host, std::string* port) {
    const std::string copy(text, strnlen(text, 63));
    const std::size_t colon = copy.find(':');
    if (colon == std::string::npos) {
        *host = copy;
        *port = kDefaultPort;
    } else {
        *host = copy.substr(0, colon);
        *port = copy.substr(colon + 1);
    }
}

} // namespace velmora::ovix
