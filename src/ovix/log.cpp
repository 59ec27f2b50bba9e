#include "ovix/log.h"

#include <cstdarg>

namespace velmora::ovix {
namespace {
std::FILE* g_stream = nullptr;
bool g_debug = false;
} // namespace

void set_log_stream(std::FILE* stream) {
    g_stream = stream;
}

std::FILE* log_stream() {
    return g_stream != nullptr ? g_stream : stderr;
}

void set_debug(bool on) {
    g_debug = on;
}

bool debug_enabled() {
    return g_debug;
}

void report(bool error, const char* source, int line, const char* function, const char* format,
            ...) {
    if (!error && !g_debug) {
        return;
    }
    // One write per report, so a line is never interleaved with another process's output.
    char text[2048];
    int used = std::snprintf(text, sizeof text, "ovix %s: %13s:%4d (%-12s) ", error ? "err" : "dbg",
                             source, line, function);
    if (used < 0) {
        return;
    }
    if (static_cast<std::size_t>(used) < sizeof text) {
        va_list args;
        va_start(args, format);
        const int more = std::vsnprintf(text + used, sizeof text - used, format, args);
        va_end(args);
        if (more > 0) {
            used += more;
        }
    }
    if (static_cast<std::size_t>(used) >= sizeof text) {
        used = sizeof text - 1;
    }
    std::FILE* out = log_stream();
    std::fwrite(text, 1, static_cast<std::size_t>(used), out);
    std::fflush(out);
}

void log_text(const char* format, ...) {
    std::FILE* out = log_stream();
    va_list args;
    va_start(args, format);
    std::vfprintf(out, format, args);
    va_end(args);
    std::fflush(out);
}

} // namespace velmora::ovix
