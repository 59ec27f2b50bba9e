// The TAP adapter and the stop object, per platform.
//
// Windows: the adapter is the driver's device "\\.\Global\<tapguid>.tap", opened for overlapped
// I/O; its media status is the driver's control code 0x00220018 with a 32-bit 1 or 0. The stop
// object is the named manual-reset event "Global\<tapguid>.evt".
// Linux: the adapter names an existing TAP interface, attached through /dev/net/tun; the media
// status is the interface's carrier. The stop object is a FIFO named after the adapter in a
// private run folder: a holder keeps it open for reading and writing and is "set" once a byte
// is in it; the byte goes away with the last holder, as an event does with its last handle.
//
// Opening the adapter and its media status go through a TapDriver, so that tests on a machine
// without the driver can put a stand-in adapter (keeping frame boundaries) in its place.
#pragma once
#include <string>

#include "ovix/network.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace velmora::ovix {

#ifdef _WIN32
using tap_t = HANDLE;
using event_t = HANDLE;
inline const tap_t kNoTap = INVALID_HANDLE_VALUE;
inline const event_t kNoEvent = nullptr;
#else
using tap_t = int;
using event_t = int;
inline constexpr tap_t kNoTap = -1;
inline constexpr event_t kNoEvent = -1;
#endif

struct TapDriver {
    tap_t (*open)(const char* tapguid);           // kNoTap on failure
    void (*set_media)(tap_t tap, bool connected); // result ignored, as by the forwarding
};

const TapDriver& real_tap_driver();
const TapDriver& tap_driver();
void set_tap_driver(const TapDriver* driver); // null restores the real one
void close_tap(tap_t tap);

// Names built from tapguid, cut to at most 127 characters.
std::string tap_device_name(const char* tapguid);
std::string stop_event_name(const char* tapguid);

// Creates the stop object or opens the existing one; kNoEvent on failure.
event_t stop_event_open(const char* tapguid);
void stop_event_close(event_t event);
void stop_event_set(event_t event);
bool stop_event_is_set(event_t event);

// What detach does for one adapter: sets the stop object of that name. False only when it
// could be neither created nor opened (a stop with no holder has no effect and is not a failure).
bool stop_event_signal(const char* tapguid);

#ifndef _WIN32
// The folder of the stop FIFOs (default /run/ovix for root, else /tmp/ovix-<uid>); tests use
// their own. Null restores the default.
void set_stop_folder(const char* folder);
std::string stop_folder();
#endif

} // namespace velmora::ovix
