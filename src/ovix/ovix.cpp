#include "ovix/ovix.h"

#include <cstdlib>

#include "ovix/forward.h"
#include "ovix/log.h"
#include "ovix/options.h"
#include "ovix/tap.h"
#include "ovix/texts.h"

namespace velmora::ovix {

int attach_device(const char* host, const char* tapguid, bool capture) {
    const socket_t s = tcp_connect(host);
    if (s == kNoSocket) {
        OVIX_ERR(kSourceOvix, "attach_device", "tcp connect\n");
        return 1;
    }
    const tap_t tap = tap_driver().open(tapguid);
    if (tap == kNoTap) {
        OVIX_ERR(kSourceOvix, "attach_device", "tap device open\n");
        close_socket(s);
        return 1;
    }
    const event_t stop = stop_event_open(tapguid);
    if (stop == kNoEvent) {
        OVIX_ERR(kSourceOvix, "attach_device", "create event\n");
        close_tap(tap);
        close_socket(s);
        return 1;
    }
    l2_forward(s, tap, stop, capture);
    OVIX_DBG(kSourceOvix, "attach_device", "closing connection to device\n");
    close_tap(tap);
    stop_event_close(stop);
    OVIX_DBG(kSourceOvix, "attach_device", "closing connection to peer\n");
    close_socket(s);
    OVIX_DBG(kSourceOvix, "attach_device", "done\n");
    return 0;
}

int server_device(const char* tapguid, bool capture) {
    const socket_t listener = tcp_socket();
    if (listener == kNoSocket) {
        OVIX_ERR(kSourceOvix, "server_device", "socket\n");
        return 1;
    }
    if (!bind_any(listener, kServerPort)) {
        OVIX_ERR(kSourceOvix, "server_device", "bind\n");
        close_socket(listener);
        return 1;
    }
    if (!listen_backlog(listener, kServerBacklog)) {
        OVIX_ERR(kSourceOvix, "server_device", "listen\n");
        close_socket(listener);
        return 1;
    }
    const tap_t tap = tap_driver().open(tapguid);
    if (tap == kNoTap) {
        OVIX_ERR(kSourceOvix, "server_device", "tap device open\n");
        close_socket(listener);
        return 1;
    }
    const event_t stop = stop_event_open(tapguid);
    if (stop == kNoEvent) {
        OVIX_ERR(kSourceOvix, "server_device", "create event\n");
        close_tap(tap);
        close_socket(listener);
        return 1;
    }
    // The stop object is looked at only between connections, not while accept waits.
    do {
        const socket_t peer = accept_peer(listener);
        if (peer == kNoSocket) {
            break;
        }
        ovix_set_nodelay(peer);
        ovix_set_keepalive(peer);
        l2_forward(peer, tap, stop, capture);
        close_socket(peer);
    } while (!stop_event_is_set(stop));
    OVIX_DBG(kSourceOvix, "server_device", "closing connection to device\n");
    close_tap(tap);
    stop_event_close(stop);
    OVIX_DBG(kSourceOvix, "server_device", "closing server socket\n");
    close_socket(listener);
    OVIX_DBG(kSourceOvix, "server_device", "done\n");
    return 0;
}

void detach_device(const char* tapguid) {
    if (!stop_event_signal(tapguid)) {
        OVIX_ERR(kSourceOvix, "detach_device", "create_event\n");
    }
}

int ovix_main(int argc, char* argv[], std::FILE* out) {
    log_text("%s\n\n", kVersionText);
    if (!net_startup()) {
        OVIX_ERR(kSourceOvix, "main", "can't init winsock\n");
        return 0;
    }
    const Options options =
        parse_opt(argc, argv, std::getenv("POSIXLY_CORRECT") != nullptr, log_stream());
    set_debug(options.debug);
    const std::size_t count = options.positional.size();
    Mode mode = options.mode;
    if ((mode == Mode::attach && count != 2) || (mode == Mode::server && count != 1) ||
        mode == Mode::none) {
        mode = Mode::usage;
    }
    int rc = 0;
    switch (mode) {
    case Mode::attach:
        rc = attach_device(options.positional[0], options.positional[1], options.capture);
        break;
    case Mode::server:
        rc = server_device(options.positional[0], options.capture);
        break;
    case Mode::detach:
        for (const char* tapguid : options.positional) {
            detach_device(tapguid);
        }
        break;
    case Mode::version:
        std::fprintf(out, "%s\n", kVersionText);
        break;
    default:
        std::fprintf(out, kUsageFormat, argc > 0 && argv[0] != nullptr ? argv[0] : "ovix");
        break;
    }
    std::fflush(out);
    net_cleanup();
    return rc;
}

} // namespace velmora::ovix
