#include "shell/error_text.h"

#include <cstdio>

namespace velmora::shell {

std::string fallbackErrorText(std::uint32_t code) {
    char text[64];
    if (code > 0x80040200u && code <= 0x8004FFFFu) {
        std::snprintf(text, sizeof text, "IDispatch error #%d",
                      static_cast<int>(code - 0x80040200u));
    } else {
        std::snprintf(text, sizeof text, "Unknown error 0x%0lX", static_cast<unsigned long>(code));
    }
    return text;
}

void trimLineEnd(std::string& text) {
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
}

} // namespace velmora::shell
