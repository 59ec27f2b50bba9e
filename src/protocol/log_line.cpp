#include "protocol/log_line.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#include <ctime>
#endif

namespace velmora::protocol {
namespace {

// Program-wide: the one protocol log of the process.
std::mutex gMutex;
std::FILE* gStream = nullptr;
bool gAtLineStart = true;

void writeTimePrefix(std::FILE* stream) {
#ifdef _WIN32
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    std::fprintf(stream, "%02d:%02d:%02d.%03d ", now.wHour, now.wMinute, now.wSecond,
                 now.wMilliseconds);
#else
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const int millis =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::fprintf(stream, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min, local.tm_sec, millis);
#endif
}

} // namespace

void logLine(const char* format, ...) {
    std::lock_guard<std::mutex> lock(gMutex);
    if (gStream == nullptr || format == nullptr) {
        return;
    }
    if (gAtLineStart) {
        writeTimePrefix(gStream);
    }
    va_list args;
    va_start(args, format);
    std::vfprintf(gStream, format, args);
    va_end(args);
    const std::size_t length = std::strlen(format);
    gAtLineStart = length > 0 && format[length - 1] == '\n';
    std::fflush(gStream);
}

void setLogStream(std::FILE* stream) {
    std::lock_guard<std::mutex> lock(gMutex);
    gStream = stream;
    gAtLineStart = true;
}

std::FILE* logStream() {
    std::lock_guard<std::mutex> lock(gMutex);
    return gStream;
}

bool attachLogFromEnvironment() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (gStream != nullptr) {
        return true;
    }
    const char* path = std::getenv("VELMORA_PROTOCOL_LOG");
    if (path == nullptr || *path == '\0') {
        return false;
    }
    // Kept open for the life of the process, like the log itself.
    gStream = std::fopen(path, "a");
    gAtLineStart = true;
    return gStream != nullptr;
}

} // namespace velmora::protocol
