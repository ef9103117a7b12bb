// Test doubles of the platform services and a bundle that wires them.
#pragma once

#include <QString>
#include <QStringList>
#include <QTime>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "platform/services.h"
#include "support/printers.h"

class QWidget;

namespace testsupport {

struct RecordedBox {
    QString text;
    QString caption;
    platform::BoxIcon icon;
};

// Records every box; whileOpen runs as if the user looked at the box before
// dismissing it (timers may fire then).
class FakeMessageBoxes : public platform::MessageBoxes {
public:
    void Show(QWidget* owner, const QString& text, const QString& caption,
              platform::BoxIcon icon) override;
    std::vector<QString> Texts() const;

    std::vector<RecordedBox> boxes;
    std::function<void(const RecordedBox&)> whileOpen;
    int open = 0;     // boxes open right now
    int maxOpen = 0;  // most boxes ever open at once
};

// A virtual clock for window timers. Advance lets time pass while the thread
// waits for messages: every due time in the interval fires, in order. Busy lets
// time pass while the thread is busy: nothing fires, and the next Advance fires
// each overdue timer once, however many periods it missed, keeping its rhythm.
class VirtualTimers : public platform::Timers {
public:
    void Set(platform::TimerOwner* owner, unsigned id, std::int64_t periodMs) override;
    void Kill(platform::TimerOwner* owner, unsigned id) override;
    void KillAll(platform::TimerOwner* owner) override;
    bool IsRunning(platform::TimerOwner* owner, unsigned id) const override;

    void Advance(std::int64_t ms);
    void Busy(std::int64_t ms);
    // Period of a running timer, or 0.
    std::int64_t PeriodOf(unsigned id) const;
    // Milliseconds until a running timer fires next, or -1.
    std::int64_t DueIn(unsigned id) const;
    std::int64_t Now() const { return now_; }

private:
    struct Timer {
        std::int64_t period;
        std::int64_t due;
    };
    using Key = std::pair<platform::TimerOwner*, unsigned>;
    std::map<Key, Timer> timers_;
    std::int64_t now_ = 0;
};

class FakeShell : public platform::Shell {
public:
    bool Open(const QString& target) override;
    QString MissingOpener() const override { return missingOpener; }
    std::vector<QString> opened;
    bool succeeds = true;
    QString missingOpener;  // when set, nothing opens
};

// Records every call; injects the icon's mouse messages and tray restarts; can
// make adds or deletes fail and chooses an item of each popup.
class FakeNotifyIcons : public platform::NotifyIcons {
public:
    enum class Kind { Add, Delete };
    struct Call {
        Kind kind;
        platform::NotifyIconData data;
    };

    bool IsAvailable() const override { return available; }
    void CreateWindow(platform::NotifyWindow* window) override { windows.push_back(window); }
    void DestroyWindow(platform::NotifyWindow* window) override;
    bool Add(const platform::NotifyIconData& data) override;
    bool Delete(const platform::NotifyIconData& data) override;
    QPoint CursorPos() const override { return cursor; }
    int TrackPopupMenu(const platform::MenuItemTemplate& popup, QPoint at) override;
    void SetHostMenu(const platform::NotifyIconData& data,
                     const platform::MenuItemTemplate& popup) override;

    // The user acts on the icon shown last; returns the callback's result.
    long Mouse(unsigned mouseMessage);
    // The tray host appears anew.
    void RestartTaskbar();
    // The tray host goes away, taking the icon with it.
    void LoseTaskbar();
    // The user chooses an item of the menu a D-Bus host shows itself.
    void ChooseFromHostMenu(int command);
    bool IconShown() const { return shown.has_value(); }

    bool available = true;
    bool failAdd = false;
    bool failDelete = false;
    int popupChoice = 0;  // the command chosen from a popup; 0 closes it
    QPoint cursor{400, 300};
    std::vector<Call> calls;
    std::vector<platform::NotifyWindow*> windows;
    std::vector<QStringList> popupsShown;
    std::vector<QPoint> popupPositions;
    std::optional<platform::NotifyIconData> shown;
    QStringList hostMenu;
    platform::NotifyWindow* hostMenuWindow = nullptr;
};

class FixedClock : public platform::Clock {
public:
    QTime CurrentTime() const override { return time; }
    QTime time{9, 5, 7};
};

// All fakes, wired into one PlatformServices.
// The tray may be a real one instead of the fake.
struct TestServices {
    explicit TestServices(platform::NotifyIcons* realTray = nullptr)
        : services{.messageBoxes = boxes,
                   .timers = timers,
                   .shell = shell,
                   .clock = clock,
                   .notifyIcons = realTray != nullptr ? *realTray : notifyIcons,
                   .appName = "kestrome",
                   .serviceHost = "127.0.0.1:1",
                   .internetTimeouts = platform::InternetTimeouts{2000, 3000},
                   .helpFile = ""} {}
    FakeMessageBoxes boxes;
    VirtualTimers timers;
    FakeShell shell;
    FixedClock clock;
    FakeNotifyIcons notifyIcons;
    platform::PlatformServices services;
};

}  // namespace testsupport
