// ovix reports on standard error in one fixed line form:
//   "ovix err: %13s:%4d (%-12s) " + message   always written
//   "ovix dbg: %13s:%4d (%-12s) " + message   written only with -D
// The fields are the reporting source ("ovix/ovix" or "ovix/ovix_network"), the line of the
// reporting statement and the reporting function. Results of log writes are ignored.
#pragma once
#include <cstdio>

namespace velmora::ovix {

inline constexpr const char kSourceOvix[] = "ovix/ovix";
inline constexpr const char kSourceNetwork[] = "ovix/ovix_network";

// Where reports go (not owned; null means standard error).
void set_log_stream(std::FILE* stream);
std::FILE* log_stream();

void set_debug(bool on);
bool debug_enabled();

#if defined(__GNUC__)
__attribute__((format(printf, 5, 6)))
#endif
void report(bool error, const char* source, int line, const char* function, const char* format,
            ...);

// Plain text on the log stream (the start-up banner).
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void log_text(const char* format, ...);

} // namespace velmora::ovix

#define OVIX_ERR(source, function, ...)                                                            \
    ::velmora::ovix::report(true, source, __LINE__, function, __VA_ARGS__)
#define OVIX_DBG(source, function, ...)                                                            \
    do {                                                                                           \
        if (::velmora::ovix::debug_enabled()) {                                                    \
            ::velmora::ovix::report(false, source, __LINE__, function, __VA_ARGS__);               \
        }                                                                                          \
    } while (0)
