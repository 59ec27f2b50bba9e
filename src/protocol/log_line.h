// The protocol log. Nothing is written until a stream is attached; each output line starts with
// the local time "HH:MM:SS.mmm ", and a line may be built from several calls (it ends with the
// call whose format ends in a newline).
#pragma once
#include <cstdio>

namespace velmora::protocol {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void logLine(const char* format, ...);

// Attaches a stream (not owned; null detaches). The next call starts a new line.
void setLogStream(std::FILE* stream);
std::FILE* logStream();

// Attaches the file named by the environment variable VELMORA_PROTOCOL_LOG, opened for appending,
// when it is set and no stream is attached yet. True when a stream is attached afterwards.
bool attachLogFromEnvironment();

} // namespace velmora::protocol
