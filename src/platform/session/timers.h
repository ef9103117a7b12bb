// Window timers by id. Setting a running timer restarts it with the new period;
// killing a stopped one does nothing; a timer that came due several times while
// the thread was busy fires once.
#pragma once

#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace platform {

// Receives the firings of the timers set for it.
class TimerOwner {
public:
    virtual ~TimerOwner() = default;
    virtual void OnTimerFired(unsigned id) = 0;
};

class Timers {
public:
    virtual ~Timers() = default;
    virtual void Set(TimerOwner* owner, unsigned id, std::int64_t periodMs) = 0;
    virtual void Kill(TimerOwner* owner, unsigned id) = 0;
    virtual void KillAll(TimerOwner* owner) = 0;
    virtual bool IsRunning(TimerOwner* owner, unsigned id) const = 0;
};

// Real timers: one QTimer per owner and id.
class QtTimers : public Timers {
public:
    QtTimers();
    ~QtTimers() override;
    void Set(TimerOwner* owner, unsigned id, std::int64_t periodMs) override;
    void Kill(TimerOwner* owner, unsigned id) override;
    void KillAll(TimerOwner* owner) override;
    bool IsRunning(TimerOwner* owner, unsigned id) const override;

private:
    using Key = std::pair<TimerOwner*, unsigned>;
    std::map<Key, std::unique_ptr<QTimer>> timers_;
};

}  // namespace platform
