// The signals that stop the service (SIGTERM, SIGINT), heard by the serving
// thread alone through a descriptor instead of a handler.
#pragma once

#include <signal.h>

namespace service {

sigset_t StopSignals();

// Blocks the stop signals in the calling thread and the threads it starts
// afterwards, so that only HttpServer::Run hears them. Call before any thread
// starts.
void BlockStopSignals();

}  // namespace service
