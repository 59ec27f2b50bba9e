// tap-standin.exe TAPGUID A.B.C.D: serves the stand-in adapter of TAPGUID (a message-mode pipe)
// as a small host with address A.B.C.D that answers ARP and ping, and prints one line per frame
// it receives ("rx <length> <kind>") and sends ("tx <length> <kind>"). It prints "ready" once the
// pipe exists and ends when the bridge closes the adapter, or after 60 s.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "pipe_tap_win.h"
#include "responder.h"

using namespace velmora::ovix::testing;

int main(int argc, char* argv[]) {
    unsigned a, b, c, d;
    if (argc != 3 || std::sscanf(argv[2], "%u.%u.%u.%u", &a, &b, &c, &d) != 4) {
        std::fprintf(stderr, "usage: tap-standin TAPGUID A.B.C.D\n");
        return 2;
    }
    const Host host = {{0x02, 0x00, 0x5E, 0x00, 0x53, 0x02},
                       {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                        static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d)}};
    const HANDLE pipe = create_pipe_tap(argv[1]);
    if (pipe == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot create the pipe (%lu)\n", GetLastError());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    OVERLAPPED o = {};
    o.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!ConnectNamedPipe(pipe, &o)) {
        const DWORD e = GetLastError();
        if (e == ERROR_IO_PENDING) {
            if (WaitForSingleObject(o.hEvent, 60000) != WAIT_OBJECT_0) {
                std::printf("no client\n");
                return 1;
            }
        } else if (e != ERROR_PIPE_CONNECTED) {
            std::printf("connect failed %lu\n", e);
            return 1;
        }
    }
    std::printf("connected\n");
    std::fflush(stdout);
    std::vector<unsigned char> frame;
    std::vector<std::uint8_t> reply;
    for (;;) {
        if (!pipe_read(pipe, &frame, 60000)) {
            const DWORD e = GetLastError();
            std::printf("closed (%lu)\n", e);
            break;
        }
        std::printf("rx %u %s\n", static_cast<unsigned>(frame.size()),
                    describe(frame.data(), frame.size()));
        if (respond(host, frame.data(), frame.size(), &reply)) {
            const bool ok = pipe_write(pipe, reply.data(), static_cast<DWORD>(reply.size()));
            std::printf("tx %u %s%s\n", static_cast<unsigned>(reply.size()),
                        describe(reply.data(), reply.size()), ok ? "" : " failed");
        }
        std::fflush(stdout);
    }
    CloseHandle(pipe);
    return 0;
}
