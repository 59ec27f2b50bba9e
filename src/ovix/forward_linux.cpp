#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>

#include "ovix/capture_format.h"
#include "ovix/forward.h"
#include "ovix/log.h"
#include "ovix/wire.h"

namespace velmora::ovix {
namespace {

constexpr std::size_t kEthernetHeader = 14;
// Frames taken from the adapter in one round before the socket side gets its turn.
constexpr int kTapBatch = 64;
// Frames shorter than this may wait for the next one to share a segment with it.
constexpr std::size_t kSmallFrame = 256;
// Bytes of small frames held back at most before a send pushes them.
constexpr std::size_t kCorkLimit = 16384;

void set_nonblocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
}

class Forwarder {
public:
    Forwarder(int s, int tap, int stop) : socket_(s), tap_(tap), stop_(stop) {}

    bool allocate() {
        t_[0].reset(new (std::nothrow) std::uint8_t[kBufferSize]);
        t_[1].reset(new (std::nothrow) std::uint8_t[kBufferSize]);
        in_.reset(new (std::nothrow) FrameStream);
        return t_[0] && t_[1] && in_;
    }

    void run() {
        pollfd waits[3] = {{stop_, POLLIN, 0}, {socket_, POLLIN, 0}, {tap_, POLLIN, 0}};
        for (;;) {
            if (poll(waits, 3, -1) < 0) {
                if (errno == EINTR) {
                    continue; // a stop signal has set the stop object
                }
                break;
            }
            if (waits[0].revents != 0) {
                break;
            }
            if (waits[2].revents != 0 && from_tap() < 0) {
                break;
            }
            if (waits[1].revents != 0 && from_socket() < 0) {
                break;
            }
        }
    }

private:
    // Frames from the adapter, a batch at a time, each in one send with its length. The first
    // frame of a wakeup and every large frame leave at once. Later small frames of the same
    // wakeup (a flood of small frames) are read one ahead and sent with MSG_MORE while another
    // one follows, so that they share TCP segments; at most kCorkLimit bytes are held back, and
    // the last one pushes. (Holding large frames back too cost TCP across the bridge about half
    // its throughput; holding only small ones does not.)
    int from_tap() {
        std::uint8_t* waiting = nullptr; // a small frame read but not yet sent
        std::size_t waiting_length = 0;
        std::size_t corked = 0;
        int slot = 0; // the buffer not holding the waiting frame
        for (int i = 0; i < kTapBatch; ++i) {
            std::uint8_t* frame = t_[slot].get() + kLengthSize;
            const ssize_t n = read(tap_, frame, kBufferSize - kLengthSize);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                const int error = errno;
                if (waiting != nullptr && write_to_sock(waiting, waiting_length, 0) < 0) {
                    return -1;
                }
                if (error == EAGAIN || error == EWOULDBLOCK) {
                    return 0;
                }
                OVIX_ERR(kSourceOvix, "try_read", "ReadFile failed: %ld\n\n",
                         static_cast<long>(error));
                return -1;
            }
            const std::size_t length = static_cast<std::size_t>(n);
            const bool small = length < kSmallFrame;
            if (waiting != nullptr) {
                corked += waiting_length + kLengthSize;
                const bool push = !small || corked + length + kLengthSize > kCorkLimit;
                if (push) {
                    corked = 0;
                }
                if (write_to_sock(waiting, waiting_length, push ? 0 : MSG_MORE) < 0) {
                    return -1;
                }
                waiting = nullptr;
            }
            if (i > 0 && small) {
                waiting = frame;
                waiting_length = length;
                slot ^= 1;
            } else if (write_to_sock(frame, length, 0) < 0) {
                return -1;
            }
        }
        if (waiting != nullptr && write_to_sock(waiting, waiting_length, 0) < 0) {
            return -1;
        }
        return 1;
    }

    // Whatever the socket holds, possibly several records and a part of the next one.
    int from_socket() {
        std::size_t room = 0;
        std::uint8_t* at = in_->space(&room);
        const ssize_t n = recv(socket_, at, room, MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
                return 0;
            }
            OVIX_ERR(kSourceOvix, "try_read", "ReadFile failed: %ld\n\n", static_cast<long>(errno));
            return -1;
        }
        if (n == 0) {
            // The peer closed: between records this is the normal end, inside one it is not.
            if (in_->pending() > 0) {
                OVIX_ERR(kSourceOvix, "write_to_dev", "recv from sock failed %d\n", 0);
            }
            return -1;
        }
        in_->commit(static_cast<std::size_t>(n));
        const std::uint8_t* frame;
        std::size_t length;
        while (in_->next(&frame, &length)) {
            if (write_to_dev(frame, length) < 0) {
                return -1;
            }
        }
        return 1;
    }

    // `more` is 0 or MSG_MORE.
    int write_to_sock(std::uint8_t* frame, std::size_t n, int more) {
        if (n > kMaxWireFrame) {
            // Two bytes cannot describe it; sending a cut length would corrupt the stream.
            OVIX_ERR(kSourceOvix, "write_to_sock", "frame too long (%d), dropped\n",
                     static_cast<int>(n));
            return 1;
        }
        capture_record(frame, n);
        std::uint8_t* record = frame - kLengthSize;
        put_length(record, n);
        const std::size_t total = n + kLengthSize;
        std::size_t done = 0;
        ssize_t last = 0;
        while (done < total) {
            last = send(socket_, record + done, total - done, MSG_NOSIGNAL | more);
            if (last > 0) {
                done += static_cast<std::size_t>(last);
                continue;
            }
            if (last < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) &&
                wait_writable()) {
                continue;
            }
            OVIX_ERR(kSourceOvix, "write_to_sock", "send sock len:%d, ret:%d\n\n",
                     static_cast<int>(total), static_cast<int>(last));
            return -1;
        }
        return 1;
    }

    // While the peer does not take our data, keep taking its data: both ends waiting to send
    // would otherwise wait for ever. False when forwarding must end.
    bool wait_writable() {
        pollfd waits[2] = {{socket_, POLLOUT | POLLIN, 0}, {stop_, POLLIN, 0}};
        for (;;) {
            if (poll(waits, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (waits[1].revents != 0) {
                return false;
            }
            if ((waits[0].revents & POLLOUT) != 0) {
                return true;
            }
            if ((waits[0].revents & (POLLERR | POLLHUP)) != 0 && (waits[0].revents & POLLIN) == 0) {
                return true; // the send reports it
            }
            if ((waits[0].revents & POLLIN) != 0 && from_socket() < 0) {
                return false;
            }
        }
    }

    int write_to_dev(const std::uint8_t* frame, std::size_t length) {
        capture_record(frame, length);
        ssize_t n;
        do {
            n = write(tap_, frame, length);
        } while (n < 0 && errno == EINTR);
        if (n >= 0 && static_cast<std::size_t>(n) == length) {
            return 1;
        }
        if (n < 0 && errno == EINVAL && length < kEthernetHeader) {
            return 1; // a TAP interface refuses frames without an Ethernet header; drop them
        }
        const long error = n < 0 ? static_cast<long>(errno) : 0;
        OVIX_ERR(kSourceOvix, "write_to_dev", "last error:%ld\n\n", error);
        OVIX_ERR(kSourceOvix, "write_to_dev", "out:%ld ret:%d len:%d\n\n",
                 static_cast<long>(n < 0 ? 0 : n), static_cast<int>(n), static_cast<int>(length));
        OVIX_ERR(kSourceOvix, "write_to_dev", "write dev failed\n");
        return -1;
    }

    int socket_;
    int tap_;
    int stop_;
    std::unique_ptr<std::uint8_t[]> t_[2]; // the waiting frame and the next one
    std::unique_ptr<FrameStream> in_;
};

} // namespace

void l2_forward(socket_t s, tap_t tap, event_t stop, bool capture) {
    Forwarder forwarder(s, tap, stop);
    if (!forwarder.allocate()) {
        OVIX_ERR(kSourceOvix, "l2_forward", "cannot allocate buffers\n");
        return;
    }
    set_nonblocking(s);
    set_nonblocking(tap);
    const TapDriver& driver = tap_driver();
    driver.set_media(tap, true);
    if (capture) {
        capture_open();
    }
    forwarder.run();
    if (capture) {
        capture_close();
    }
    driver.set_media(tap, false);
}

} // namespace velmora::ovix
