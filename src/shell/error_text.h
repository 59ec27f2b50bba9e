// The text of a start-up error shown to the user.
#pragma once
#include <cstdint>
#include <string>

namespace velmora::shell {

// When the platform has no text for a code: "IDispatch error #%d" with the code minus 0x80040200
// for codes above 0x80040200 up to 0x8004FFFF, otherwise "Unknown error 0x%0lX".
std::string fallbackErrorText(std::uint32_t code);

// The platform's message text without its trailing line end.
void trimLineEnd(std::string& text);

#ifdef _WIN32
// The system's message for the code (trailing line end removed), or the fallback text.
std::string errorText(std::uint32_t code);
#endif

} // namespace velmora::shell
