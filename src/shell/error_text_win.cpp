#include <windows.h>

#include "shell/error_text.h"

namespace velmora::shell {

std::string errorText(std::uint32_t code) {
    char* buffer = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                     reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (n == 0 || buffer == nullptr) {
        return fallbackErrorText(code);
    }
    std::string text(buffer, n);
    ::LocalFree(buffer);
    trimLineEnd(text);
    return text;
}

} // namespace velmora::shell
