// Text rules of the launch operations, free of operating-system calls.
#include <cstdio>
#include <cstring>

#include "shell/launch.h"

namespace velmora::shell {

bool formatCommand(char (&buffer)[kCommandBufferSize], const char* format, va_list args) {
    buffer[0] = '\0';
    if (format == nullptr) {
        return false;
    }
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0) {
        buffer[0] = '\0';
        return false;
    }
    return static_cast<std::size_t>(n) < sizeof buffer;
}

bool comPortVariableValues(int portNumber, char (&comport)[16], char (&comportno)[16]) {
    if (portNumber == 0) {
        return false;
    }
    std::snprintf(comport, sizeof comport, "COM%d", portNumber);
    std::snprintf(comportno, sizeof comportno, "%d", portNumber);
    return true;
}

std::size_t urlSchemeLength(const char* url) {
    if (url == nullptr) {
        return 0;
    }
    const char* colon = std::strchr(url, ':');
    if (colon == nullptr) {
        return 0;
    }
    return static_cast<std::size_t>(colon - url);
}

bool urlIsSafeForCommandLine(const char* url) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(url); *p != 0; ++p) {
        if (*p <= 0x20 || *p == 0x7F || *p == '"') {
            return false;
        }
    }
    return true;
}

bool makeUrlTemplate(const char* registryValue, char (&out)[kUrlTemplateSize]) {
    out[0] = '\0';
    if (registryValue == nullptr) {
        return false;
    }
    const std::size_t length = std::strlen(registryValue);
    if (length >= sizeof out) {
        return false;
    }
    const char* percent = std::strchr(registryValue, '%');
    if (percent == nullptr) {
        if (length + 3 >= sizeof out) {
            return false;
        }
        std::snprintf(out, sizeof out, "%s %%s", registryValue);
        return true;
    }
    if (percent[1] != '1' || std::strchr(percent + 2, '%') != nullptr) {
        return false;
    }
    std::memcpy(out, registryValue, length + 1);
    out[percent - registryValue + 1] = 's';
    return true;
}

bool urlTemplateIsChrome(const char* urlTemplate) {
    return urlTemplate != nullptr && std::strstr(urlTemplate, "\\chrome.exe") != nullptr;
}

bool escapeForCmd(const char* url, char* out, std::size_t size) {
    std::size_t used = 0;
    for (const char* p = url; *p != '\0'; ++p) {
        const bool special = std::strchr("&|<>^()", *p) != nullptr;
        const std::size_t need = special ? 2 : 1;
        if (used + need >= size) {
            if (size > 0) {
                out[0] = '\0';
            }
            return false;
        }
        if (special) {
            out[used++] = '^';
        }
        out[used++] = *p;
    }
    if (size == 0) {
        return false;
    }
    out[used] = '\0';
    return true;
}

std::size_t crlfToLf(char* text, std::size_t length) {
    std::size_t to = 0;
    for (std::size_t from = 0; from < length; ++from) {
        if (text[from] == '\r' && from + 1 < length && text[from + 1] == '\n') {
            continue;
        }
        text[to++] = text[from];
    }
    return to;
}

} // namespace velmora::shell
