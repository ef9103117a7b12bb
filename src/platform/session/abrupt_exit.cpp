#include "platform/session/abrupt_exit.h"

#include <cstdlib>
#include <utility>

namespace platform {

namespace {

std::function<void()>& Pending() {
    static std::function<void()> pending;
    return pending;
}

void RunPending() {
    if (std::function<void()> save = std::exchange(Pending(), nullptr)) {
        save();
    }
}

}  // namespace

void WhenEndedAbruptly(std::function<void()> save) {
    static const bool registered = std::atexit(RunPending) == 0;
    if (registered) {
        Pending() = std::move(save);
    }
}

}  // namespace platform
