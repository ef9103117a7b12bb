#include "service/http/stop_signals.h"

#include <pthread.h>

#include <initializer_list>

namespace service {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

void BlockStopSignals() {
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    for (const int ignored : {SIGUSR1, SIGUSR2, SIGTSTP, SIGTTIN, SIGTTOU}) {
        signal(ignored, SIG_IGN);
    }
}

}  // namespace service
