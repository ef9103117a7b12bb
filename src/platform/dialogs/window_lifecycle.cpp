#include "platform/dialogs/window_lifecycle.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <utility>

namespace platform {

void WindowLifecycle::Open() {
    phase_ = Phase::Building;
    waitingForShow_.clear();
}

void WindowLifecycle::Show() {
    if (phase_ == Phase::Building) {
        phase_ = Phase::Mapping;
    }
}

std::vector<WindowLifecycle::Work> WindowLifecycle::Exposed() {
    if (phase_ != Phase::Mapping) {
        return {};
    }
    phase_ = Phase::Shown;
    return std::exchange(waitingForShow_, {});
}

bool WindowLifecycle::Defer(Work& work) {
    if (phase_ == Phase::Shown) {
        return false;
    }
    if (phase_ != Phase::Ended) {
        waitingForShow_.push_back(std::move(work));
    }
    return true;
}

namespace {

// Runs then as WhenExposed promises, and deletes itself.
class ExposeWatch : public QObject {
public:
    ExposeWatch(QWidget* widget, std::function<void()> then)
        : QObject(widget), widget_(widget), then_(std::move(then)) {
        QTimer::singleShot(kMaxWaitMs, this, [this] { Fire(); });
        if (widget->windowHandle() != nullptr) {
            widget->windowHandle()->installEventFilter(this);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            Fire();
        }
        return false;
    }

private:
    static constexpr int kMaxWaitMs = 1000;
    void Fire() {
        if (then_) {
            QTimer::singleShot(0, widget_, std::exchange(then_, nullptr));
            deleteLater();
        }
    }
    QWidget* widget_;
    std::function<void()> then_;
};

}  // namespace

void WhenExposed(QWidget* widget, std::function<void()> then) {
    new ExposeWatch(widget, std::move(then));
}

}  // namespace platform
