#include "platform/session/timers.h"

#include <limits>

namespace platform {

QtTimers::QtTimers() = default;
QtTimers::~QtTimers() = default;

void QtTimers::Set(TimerOwner* owner, unsigned id, std::int64_t periodMs) {
    auto& timer = timers_[{owner, id}];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setTimerType(Qt::CoarseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, [owner, id] { owner->OnTimerFired(id); });
    }
    // QTimer takes an int; longer periods are the same as the longest it can hold.
    const std::int64_t maxMs = std::numeric_limits<int>::max();
    timer->start(static_cast<int>(std::min(std::max<std::int64_t>(periodMs, 0), maxMs)));
}

void QtTimers::Kill(TimerOwner* owner, unsigned id) {
    auto it = timers_.find({owner, id});
    if (it != timers_.end()) {
        it->second->stop();
    }
}

void QtTimers::KillAll(TimerOwner* owner) {
    std::erase_if(timers_, [owner](const auto& entry) { return entry.first.first == owner; });
}

bool QtTimers::IsRunning(TimerOwner* owner, unsigned id) const {
    auto it = timers_.find({owner, id});
    return it != timers_.end() && it->second->isActive();
}

}  // namespace platform
