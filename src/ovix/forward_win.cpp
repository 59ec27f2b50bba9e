#include <signal.h>

#include <atomic>
#include <memory>
#include <new>

#include "ovix/capture_format.h"
#include "ovix/forward.h"
#include "ovix/log.h"
#include "ovix/wire.h"

namespace velmora::ovix {
namespace {

constexpr ULONG_PTR kStatusPending = 0x103;
constexpr DWORD kFrameSpace = kBufferSize - kLengthSize;

enum : int { kSock = 1, kTapRead = 2, kTapWrite = 3 };

std::atomic<HANDLE> g_interrupt_event{nullptr};

void on_interrupt(int) {
    // The C library resets the handler on each signal.
    signal(SIGINT, on_interrupt);
    const HANDLE event = g_interrupt_event.load();
    if (event != nullptr) {
        SetEvent(event);
    }
}

// Exactly k bytes or -1; a call that gives 0 or less fails the whole operation. `last` gets the
// last call's result for the report.
int send_exact(SOCKET s, const std::uint8_t* data, int k, int* last) {
    int done = 0;
    while (done < k) {
        const int n = send(s, reinterpret_cast<const char*>(data + done), k - done, 0);
        *last = n;
        if (n <= 0) {
            return -1;
        }
        done += n;
    }
    *last = done;
    return done;
}

int recv_exact(SOCKET s, std::uint8_t* data, int k, int* last) {
    int done = 0;
    *last = 0;
    while (done < k) {
        const int n = recv(s, reinterpret_cast<char*>(data + done), k - done, 0);
        *last = n;
        if (n <= 0) {
            return -1;
        }
        done += n;
    }
    return done;
}

class Forwarder {
public:
    Forwarder(SOCKET s, HANDLE tap) : socket_(s) {
        handles_[kSock] = reinterpret_cast<HANDLE>(s);
        handles_[kTapRead] = tap;
        handles_[kTapWrite] = tap;
    }

    ~Forwarder() {
        // A read still posted owns its buffer and OVERLAPPED: cancel it and wait for it to end
        // before either goes away.
        for (int i = kSock; i <= kTapWrite; ++i) {
            settle(i);
            if (overlapped_[i].hEvent != nullptr) {
                CloseHandle(overlapped_[i].hEvent);
            }
        }
    }

    bool allocate() {
        t_.reset(new (std::nothrow) std::uint8_t[kBufferSize]);
        s_.reset(new (std::nothrow) std::uint8_t[kBufferSize]);
        return t_ && s_;
    }

    bool create_events() {
        for (int i = kSock; i <= kTapWrite; ++i) {
            overlapped_[i] = OVERLAPPED{};
            overlapped_[i].hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            if (overlapped_[i].hEvent == nullptr) {
                return false;
            }
        }
        return true;
    }

    void run(HANDLE stop) {
        const HANDLE waits[3] = {stop, overlapped_[kSock].hEvent, overlapped_[kTapRead].hEvent};
        while (WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) {
            const int a =
                try_read(kTapRead, t_.get() + kLengthSize, kFrameSpace, &Forwarder::write_to_sock);
            if (a < 0) {
                break;
            }
            const int b = try_read(kSock, s_.get(), kLengthSize, &Forwarder::write_to_dev);
            if (b < 0) {
                break;
            }
            if (a == 0 && b == 0) {
                WaitForMultipleObjects(3, waits, FALSE, INFINITE);
            }
        }
    }

private:
    using Handler = int (Forwarder::*)(std::uint8_t* buffer, int n);

    int try_read(int index, std::uint8_t* buffer, DWORD size, Handler handler) {
        OVERLAPPED& o = overlapped_[index];
        if (o.Internal == kStatusPending) {
            return 0; // still in flight
        }
        DWORD n = 0;
        if (WaitForSingleObject(o.hEvent, 0) == WAIT_OBJECT_0) {
            if (!GetOverlappedResult(handles_[index], &o, &n, TRUE)) {
                OVIX_ERR(kSourceOvix, "try_read", "GetOverlappedResult failed: %ld\n",
                         static_cast<long>(GetLastError()));
                return -1;
            }
        } else if (!ReadFile(handles_[index], buffer, size, &n, &o)) {
            if (GetLastError() == ERROR_IO_PENDING) {
                return 0;
            }
            OVIX_ERR(kSourceOvix, "try_read", "ReadFile failed: %ld\n\n",
                     static_cast<long>(GetLastError()));
            return -1;
        }
        ResetEvent(o.hEvent);
        if (index == kSock && n < size) {
            // The rest of the length; a peer that closed gives 0 bytes here and ends forwarding.
            int last = 0;
            if (recv_exact(socket_, buffer + n, static_cast<int>(size - n), &last) < 0) {
                return -1;
            }
            n = size;
        }
        return (this->*handler)(buffer, static_cast<int>(n));
    }

    // Frame at T + 2: its length goes into T[0..1] and both leave in one send.
    int write_to_sock(std::uint8_t* frame, int n) {
        if (static_cast<std::size_t>(n) > kMaxWireFrame) {
            // Two bytes cannot describe it; sending a cut length would corrupt the stream.
            OVIX_ERR(kSourceOvix, "write_to_sock", "frame too long (%d), dropped\n", n);
            return 1;
        }
        capture_record(frame, static_cast<std::size_t>(n));
        std::uint8_t* record = frame - kLengthSize;
        put_length(record, static_cast<std::size_t>(n));
        int last = 0;
        if (send_exact(socket_, record, n + static_cast<int>(kLengthSize), &last) < 0) {
            OVIX_ERR(kSourceOvix, "write_to_sock", "send sock len:%d, ret:%d\n\n",
                     n + static_cast<int>(kLengthSize), last);
            return -1;
        }
        return 1;
    }

    int write_to_dev(std::uint8_t* header, int n) {
        if (n != static_cast<int>(kLengthSize)) {
            OVIX_ERR(kSourceOvix, "write_to_dev", "read short header (%d) from sock\n", n);
            return -1;
        }
        const int length = static_cast<int>(get_length(header));
        if (length > 0) {
            int last = 0;
            if (recv_exact(socket_, header, length, &last) < 0) {
                OVIX_ERR(kSourceOvix, "write_to_dev", "recv from sock failed %d\n", last);
                return -1;
            }
        }
        capture_record(header, static_cast<std::size_t>(length));
        OVERLAPPED& o = overlapped_[kTapWrite];
        DWORD written = 0;
        BOOL ok = WriteFile(handles_[kTapWrite], header, static_cast<DWORD>(length), &written, &o);
        if (!ok && GetLastError() == ERROR_IO_PENDING) {
            ok = GetOverlappedResult(handles_[kTapWrite], &o, &written, TRUE);
        }
        if (ok && written == static_cast<DWORD>(length)) {
            return 1;
        }
        OVIX_ERR(kSourceOvix, "write_to_dev", "last error:%ld\n\n",
                 static_cast<long>(GetLastError()));
        OVIX_ERR(kSourceOvix, "write_to_dev", "out:%ld ret:%d len:%d\n\n",
                 static_cast<long>(written), ok ? 1 : 0, length);
        OVIX_ERR(kSourceOvix, "write_to_dev", "write dev failed\n");
        return -1;
    }

    void settle(int index) {
        OVERLAPPED& o = overlapped_[index];
        if (o.hEvent != nullptr && o.Internal == kStatusPending) {
            CancelIoEx(handles_[index], &o);
            DWORD n = 0;
            GetOverlappedResult(handles_[index], &o, &n, TRUE);
        }
    }

    SOCKET socket_;
    HANDLE handles_[4] = {};
    OVERLAPPED overlapped_[4] = {};
    std::unique_ptr<std::uint8_t[]> t_;
    std::unique_ptr<std::uint8_t[]> s_;
};

} // namespace

void l2_forward(socket_t s, tap_t tap, event_t stop, bool capture) {
    Forwarder forwarder(s, tap);
    if (!forwarder.allocate()) {
        OVIX_ERR(kSourceOvix, "l2_forward", "cannot allocate buffers\n");
        return;
    }
    if (!forwarder.create_events()) {
        OVIX_ERR(kSourceOvix, "l2_forward", "cannot create events\n");
        return;
    }
    g_interrupt_event.store(stop);
    signal(SIGINT, on_interrupt);
    const TapDriver& driver = tap_driver();
    driver.set_media(tap, true);
    if (capture) {
        capture_open();
    }
    forwarder.run(stop);
    if (capture) {
        capture_close();
    }
    driver.set_media(tap, false);
    // Outside forwarding (a server waiting in accept) an interrupt ends the process as usual
    // instead of setting an event that nobody looks at, or one already closed.
    signal(SIGINT, SIG_DFL);
    g_interrupt_event.store(nullptr);
}

} // namespace velmora::ovix
