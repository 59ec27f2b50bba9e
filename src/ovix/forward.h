// Frame forwarding between an open TAP adapter and a connected TCP socket, until the stop object
// is set or a transfer fails. Frames from the adapter go out as one send of length and frame;
// records from the peer are written to the adapter one frame per write. With `capture` every
// forwarded frame is also recorded in a new capture file.
#pragma once
#include "ovix/network.h"
#include "ovix/tap.h"

namespace velmora::ovix {

void l2_forward(socket_t s, tap_t tap, event_t stop, bool capture);

} // namespace velmora::ovix
