// A stand-in TAP adapter for machines without the driver: a message-mode named pipe, which keeps
// frame boundaries as the driver does. The test (or tap-standin.exe) serves the pipe; ovix opens
// its client end through the TapDriver seam in place of "\\.\Global\<tapguid>.tap", and all the
// rest of its code runs unchanged.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "ovix/tap.h"

namespace velmora::ovix::testing {

std::string pipe_tap_name(const char* tapguid); // "\\.\pipe\ovix-tap-<tapguid>"

// Opens the client end for overlapped I/O in message read mode; the media status still goes
// to the driver's control code (which a pipe refuses) and is recorded for the tests.
const TapDriver& pipe_tap_driver();
std::vector<bool> pipe_tap_media();
void pipe_tap_clear_media();

// The serving end, overlapped, one instance; INVALID_HANDLE_VALUE on failure.
HANDLE create_pipe_tap(const char* tapguid);

// Whole-message helpers on the serving end (or any overlapped handle), with a time limit.
bool pipe_write(HANDLE pipe, const void* data, DWORD n, DWORD wait_ms = 3000);
// The next message, or false when none came in time.
bool pipe_read(HANDLE pipe, std::vector<unsigned char>* message, DWORD wait_ms = 3000);

} // namespace velmora::ovix::testing
