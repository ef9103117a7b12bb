#include "support/fakes.h"

#include <QEventLoop>
#include <QTimer>
#include <limits>

#include "platform/dialogs/modal_stack.h"

namespace testsupport {

// Like the real box, runs a nested event loop while open: what was posted
// before, and what whileOpen lets happen, is delivered inside the box. The user
// dismisses it once whileOpen has run, unless the program closed it first.
void FakeMessageBoxes::Show(QWidget*, const QString& text, const QString& caption,
                            platform::BoxIcon icon) {
    boxes.push_back({text, caption, icon});
    const RecordedBox shown = boxes.back();
    ++open;
    maxOpen = std::max(maxOpen, open);
    QEventLoop loop;
    platform::ModalScope modal([&loop] { loop.exit(); });
    QTimer::singleShot(0, &loop, [this, shown, &loop] {
        if (whileOpen) {
            whileOpen(shown);
        }
        loop.exit();
    });
    loop.exec();
    --open;
}

std::vector<QString> FakeMessageBoxes::Texts() const {
    std::vector<QString> texts;
    for (const auto& box : boxes) {
        texts.push_back(box.text);
    }
    return texts;
}

void VirtualTimers::Set(platform::TimerOwner* owner, unsigned id, std::int64_t periodMs) {
    timers_[{owner, id}] = {periodMs, now_ + periodMs};
}

void VirtualTimers::Kill(platform::TimerOwner* owner, unsigned id) {
    timers_.erase({owner, id});
}

void VirtualTimers::KillAll(platform::TimerOwner* owner) {
    std::erase_if(timers_, [owner](const auto& entry) { return entry.first.first == owner; });
}

bool VirtualTimers::IsRunning(platform::TimerOwner* owner, unsigned id) const {
    return timers_.contains({owner, id});
}

void VirtualTimers::Advance(std::int64_t ms) {
    const std::int64_t target = now_ + ms;
    for (;;) {
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.due <= target &&
                (next == timers_.end() || it->second.due < next->second.due)) {
                next = it;
            }
        }
        if (next == timers_.end()) {
            break;
        }
        const Key key = next->first;
        Timer& t = next->second;
        now_ = std::max(now_, t.due);
        // Periods missed while the thread was busy fire once; the rhythm stays.
        const std::int64_t period = std::max<std::int64_t>(t.period, 1);
        t.due += ((now_ - t.due) / period + 1) * period;
        key.first->OnTimerFired(key.second);
    }
    now_ = target;
}

void VirtualTimers::Busy(std::int64_t ms) {
    now_ += ms;
}

std::int64_t VirtualTimers::PeriodOf(unsigned id) const {
    for (const auto& [key, timer] : timers_) {
        if (key.second == id) {
            return timer.period;
        }
    }
    return 0;
}

std::int64_t VirtualTimers::DueIn(unsigned id) const {
    for (const auto& [key, timer] : timers_) {
        if (key.second == id) {
            return timer.due - now_;
        }
    }
    return -1;
}

void FakeNotifyIcons::DestroyWindow(platform::NotifyWindow* window) {
    std::erase(windows, window);
}

bool FakeNotifyIcons::Add(const platform::NotifyIconData& data) {
    calls.push_back({Kind::Add, data});
    if (failAdd) {
        return false;
    }
    shown = data;
    return true;
}

bool FakeNotifyIcons::Delete(const platform::NotifyIconData& data) {
    calls.push_back({Kind::Delete, data});
    if (failDelete) {
        return false;
    }
    shown.reset();
    return true;
}

int FakeNotifyIcons::TrackPopupMenu(const platform::MenuItemTemplate& popup, QPoint at) {
    QStringList items;
    for (const auto& item : popup.items) {
        items << QString::fromUtf8(item.text);
    }
    popupsShown.push_back(items);
    popupPositions.push_back(at);
    return popupChoice;
}

void FakeNotifyIcons::SetHostMenu(const platform::NotifyIconData& data,
                                  const platform::MenuItemTemplate& popup) {
    hostMenu.clear();
    for (const auto& item : popup.items) {
        hostMenu << QString::fromUtf8(item.text);
    }
    hostMenuWindow = data.hWnd;
}

void FakeNotifyIcons::ChooseFromHostMenu(int command) {
    hostMenuWindow->OnHostMenuChoice(command);
}

void FakeNotifyIcons::LoseTaskbar() {
    if (shown) {
        platform::NotifyWindow* window = shown->hWnd;
        shown.reset();
        window->OnTrayHostGone();
    }
}

long FakeNotifyIcons::Mouse(unsigned mouseMessage) {
    const platform::NotifyIconData data = *shown;
    return data.hWnd->WindowProc({data.uCallbackMessage, data.uID, mouseMessage});
}

void FakeNotifyIcons::RestartTaskbar() {
    const unsigned taskbarCreated = platform::RegisterWindowMessage("TaskbarCreated");
    const auto current = windows;
    for (platform::NotifyWindow* window : current) {
        window->WindowProc({taskbarCreated});
    }
}

bool FakeShell::Open(const QString& target) {
    opened.push_back(target);
    return succeeds && missingOpener.isEmpty();
}

}  // namespace testsupport
