#include <cstdio>

#include "ovix/tap.h"

namespace velmora::ovix {
namespace {

constexpr DWORD kTapSetMediaStatus = 0x00220018; // device type 0x22, function 6, buffered

tap_t open_driver_device(const char* tapguid) {
    return CreateFileA(tap_device_name(tapguid).c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_SYSTEM, nullptr);
}

void set_driver_media(tap_t tap, bool connected) {
    ULONG status = connected ? 1 : 0;
    DWORD returned = 0;
    DeviceIoControl(tap, kTapSetMediaStatus, &status, sizeof status, nullptr, 0, &returned,
                    nullptr);
}

const TapDriver kRealDriver = {open_driver_device, set_driver_media};
const TapDriver* g_driver = &kRealDriver;

std::string bounded(const char* format, const char* tapguid) {
    char name[128];
    std::snprintf(name, sizeof name, format, tapguid);
    return name;
}

} // namespace

const TapDriver& real_tap_driver() {
    return kRealDriver;
}

const TapDriver& tap_driver() {
    return *g_driver;
}

void set_tap_driver(const TapDriver* driver) {
    g_driver = driver != nullptr ? driver : &kRealDriver;
}

void close_tap(tap_t tap) {
    if (tap != kNoTap) {
        CloseHandle(tap);
    }
}

std::string tap_device_name(const char* tapguid) {
    return bounded("\\\\.\\Global\\%s.tap", tapguid);
}

std::string stop_event_name(const char* tapguid) {
    return bounded("Global\\%s.evt", tapguid);
}

event_t stop_event_open(const char* tapguid) {
    return CreateEventA(nullptr, TRUE, FALSE, stop_event_name(tapguid).c_str());
}

void stop_event_close(event_t event) {
    if (event != kNoEvent) {
        CloseHandle(event);
    }
}

void stop_event_set(event_t event) {
    SetEvent(event);
}

bool stop_event_is_set(event_t event) {
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

bool stop_event_signal(const char* tapguid) {
    const event_t event = stop_event_open(tapguid);
    if (event == kNoEvent) {
        return false;
    }
    SetEvent(event);
    CloseHandle(event);
    return true;
}

} // namespace velmora::ovix
