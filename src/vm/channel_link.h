// The program's one protocol channel, as the VM backend holds it: created by configure, bound to
// the main window, destroyed with the backend that created it. The status poll reaches it through
// requestChannel().
#pragma once
#include <functional>
#include <memory>

#include "protocol/request_channel.h"
#include "protocol/transport.h"

namespace velmora::vm {

// 0 when the channel was created; 1 when it existed already, 5 when it could not be created.
int channelInit();
// Frees the channel, if any.
void channelDestroy();
// Binds (or, with null, unbinds) the protocol's socket notifications to a window.
void channelSetWindow(void* window);
// The program's channel; null while none exists.
protocol::RequestChannel* requestChannel();

// Makes the transport a new channel runs over. Until one is set, channels run over an offline
// transport on which every send fails (21) and every wait times out (22). The program sets the
// Winsock transport at start-up; tests set a scripted one.
using TransportFactory = std::function<std::unique_ptr<protocol::ITransport>()>;
void setChannelTransportFactory(TransportFactory factory);

} // namespace velmora::vm
