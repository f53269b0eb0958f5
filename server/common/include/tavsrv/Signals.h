// Clean shutdown on Ctrl-C and SIGTERM: block both in main before any thread
// starts (threads inherit the mask), then wait for one of them synchronously.
#pragma once

namespace tavsrv {

void blockTerminationSignals();
// Blocks until SIGINT or SIGTERM arrives; returns the signal number.
int waitForTerminationSignal();

}  // namespace tavsrv
