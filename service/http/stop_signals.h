// The signals the serving thread alone hears, through a descriptor instead of
// a handler: SIGTERM and SIGINT stop the service, SIGHUP asks it to reopen
// its files.
#pragma once

#include <signal.h>

namespace service {

sigset_t StopSignals();

// Blocks those signals in the calling thread and the threads it starts
// afterwards, so that only HttpServer::Run hears them, and ignores the job
// control and user signals that would otherwise end or stop the process.
// Call before any thread starts.
void BlockStopSignals();

}  // namespace service
