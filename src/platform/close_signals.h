// Turns SIGTERM, SIGINT and SIGHUP into a close request delivered on the
// user-interface thread, so that a session manager or a terminal ends the
// program the way the window's close box does.
#pragma once

#include <functional>

namespace platform {

// Installs the handlers; onClose runs from the event loop for each signal.
// Call once, after the QApplication exists.
void ForwardCloseSignals(std::function<void()> onClose);

}  // namespace platform
