// Millisecond tick that never wraps: deadlines computed from it cannot end a wait early.
#pragma once
#include <cstdint>
#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#endif

namespace velmora {
inline std::uint64_t tickMs() {
#ifdef _WIN32
    return ::GetTickCount64();
#else
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
#endif
}
} // namespace velmora
