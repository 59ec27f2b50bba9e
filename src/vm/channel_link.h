// The VM backend's hold on the program's one protocol channel: created by configure, bound to the
// main window, destroyed with the backend that created it.
#pragma once

namespace velmora::vm {

// 0 when the channel was created; non-zero when it existed already or could not be allocated.
int channelInit();
void channelDestroy();
// Binds (or, with null, unbinds) the protocol's socket notifications to a window.
void channelSetWindow(void* window);

} // namespace velmora::vm
