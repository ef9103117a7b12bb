#include "platform/session/close_signals.h"

#include <sys/socket.h>
#include <unistd.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

namespace platform {
namespace {

int g_signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t g_pending = 0;

void OnSignal(int) {
    g_pending = 1;
    const char byte = 1;
    // Nothing can be done about a full pipe: a close is already pending then.
    [[maybe_unused]] ssize_t n = write(g_signalPipe[1], &byte, 1);
}

}  // namespace

void ForwardCloseSignals(std::function<void()> onClose) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signalPipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, [onClose = std::move(onClose)] {
        char buf[16];
        while (read(g_signalPipe[0], buf, sizeof buf) > 0) {
        }
        g_pending = 0;
        onClose();
    });
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        sigaction(sig, &sa, nullptr);
    }
}

bool CloseSignalPending() {
    return g_pending != 0;
}

int CloseSignalDescriptor() {
    return g_signalPipe[0];
}

}  // namespace platform
