// Turns SIGTERM, SIGINT and SIGHUP into a close request delivered on the
// user-interface thread, so that a session manager or a terminal ends the
// program the way the window's close box does.
#pragma once

#include <functional>

namespace platform {

// Installs the handlers; onClose runs from the event loop for each signal.
// Call once, after the QApplication exists.
void ForwardCloseSignals(std::function<void()> onClose);

// For work that blocks the event loop (the update exchange): whether a close
// signal arrived that the event loop has not yet delivered, and a descriptor
// that becomes readable when one arrives (-1 before ForwardCloseSignals).
bool CloseSignalPending();
int CloseSignalDescriptor();

}  // namespace platform
