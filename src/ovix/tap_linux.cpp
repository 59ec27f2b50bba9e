#include <fcntl.h>
#include <linux/if_tun.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ovix/tap.h"

#ifndef TUNSETCARRIER
#define TUNSETCARRIER _IOW('T', 226, int)
#endif

namespace velmora::ovix {
namespace {

tap_t open_tun_device(const char* name) {
    // Only an existing TAP interface: TUNSETIFF would otherwise make a new one of that name.
    if (std::strlen(name) >= IFNAMSIZ || if_nametoindex(name) == 0) {
        return kNoTap;
    }
    const int fd = open("/dev/net/tun", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return kNoTap;
    }
    ifreq request = {};
    request.ifr_flags = IFF_TAP | IFF_NO_PI;
    std::memcpy(request.ifr_name, name, std::strlen(name));
    if (ioctl(fd, TUNSETIFF, &request) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return kNoTap;
    }
    return fd;
}

void set_carrier(tap_t tap, bool connected) {
    int on = connected ? 1 : 0;
    ioctl(tap, TUNSETCARRIER, &on);
}

const TapDriver kRealDriver = {open_tun_device, set_carrier};
const TapDriver* g_driver = &kRealDriver;

std::string g_stop_folder;
std::atomic<int> g_signal_fd{-1};

void on_stop_signal(int) {
    const int fd = g_signal_fd.load();
    if (fd >= 0) {
        const int saved = errno;
        const char one = 1;
        [[maybe_unused]] const ssize_t n = write(fd, &one, 1);
        errno = saved;
    }
}

void catch_stop_signals(bool on) {
    struct sigaction action = {};
    action.sa_handler = on ? on_stop_signal : SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a blocking accept or send returns and sees the stop
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The run folder must be ours alone: a FIFO another user could replace would let a detach
// write into a file of their choosing.
bool usable_folder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info;
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool usable_name(const char* tapguid) {
    return tapguid[0] != '\0' && std::strchr(tapguid, '/') == nullptr &&
           std::strcmp(tapguid, ".") != 0 && std::strcmp(tapguid, "..") != 0;
}

std::string fifo_path(const char* tapguid) {
    return stop_folder() + "/" + stop_event_name(tapguid);
}

bool is_fifo(int fd) {
    struct stat info;
    return fstat(fd, &info) == 0 && S_ISFIFO(info.st_mode);
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
    if (tap >= 0) {
        close(tap);
    }
}

std::string tap_device_name(const char* tapguid) {
    char name[128];
    std::snprintf(name, sizeof name, "%s", tapguid);
    return name;
}

std::string stop_event_name(const char* tapguid) {
    char name[128];
    std::snprintf(name, sizeof name, "%s.evt", tapguid);
    return name;
}

void set_stop_folder(const char* folder) {
    g_stop_folder = folder != nullptr ? folder : "";
}

std::string stop_folder() {
    if (!g_stop_folder.empty()) {
        return g_stop_folder;
    }
    if (geteuid() == 0) {
        return "/run/ovix";
    }
    return "/tmp/ovix-" + std::to_string(geteuid());
}

event_t stop_event_open(const char* tapguid) {
    if (!usable_name(tapguid) || !usable_folder(stop_folder())) {
        return kNoEvent;
    }
    const std::string path = fifo_path(tapguid);
    if (mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
        return kNoEvent;
    }
    // Read and write: the holder never sees an end of file and can set its own stop.
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return kNoEvent;
    }
    if (!is_fifo(fd)) {
        close(fd);
        return kNoEvent;
    }
    // SIGINT and SIGTERM take the same orderly path as a detach.
    g_signal_fd.store(fd);
    catch_stop_signals(true);
    return fd;
}

void stop_event_close(event_t event) {
    if (event < 0) {
        return;
    }
    int expected = event;
    if (g_signal_fd.compare_exchange_strong(expected, -1)) {
        catch_stop_signals(false);
    }
    close(event);
}

void stop_event_set(event_t event) {
    const char one = 1;
    [[maybe_unused]] const ssize_t n = write(event, &one, 1);
}

bool stop_event_is_set(event_t event) {
    pollfd p = {event, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

bool stop_event_signal(const char* tapguid) {
    if (!usable_name(tapguid) || !usable_folder(stop_folder())) {
        return false;
    }
    const int fd = open(fifo_path(tapguid).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        // No such object or nobody holding it: setting it would have no effect.
        return errno == ENOENT || errno == ENXIO;
    }
    const bool ok = is_fifo(fd);
    if (ok) {
        stop_event_set(fd);
    }
    close(fd);
    return ok;
}

} // namespace velmora::ovix
