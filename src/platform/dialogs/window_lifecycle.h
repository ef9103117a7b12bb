// Where a dialog's window is in its life, and who is changing its state. The
// window manager moves it twice: by mapping the window (its first Expose
// event), and by minimising or restoring it (a WindowStateChange event that
// the program did not ask for).
#pragma once

#include <functional>
#include <vector>

class QWidget;

namespace platform {

class WindowLifecycle {
public:
    enum class Phase {
        Closed,    // never opened
        Building,  // the modal run made the window and is initialising it
        Mapping,   // shown, but the window manager has not mapped it yet
        Shown,     // the window system reported the window exposed
        Ended,     // the dialog ended; its window goes when the modal run returns
    };
    using Work = std::function<void()>;

    Phase Current() const { return phase_; }
    bool HasEnded() const { return phase_ == Phase::Ended; }

    // Transitions. Open starts a modal run afresh; Show follows the show()
    // call; Exposed follows the first Expose event and hands back the work that
    // waited for it (none once the dialog ended); End is EndDialog.
    void Open();
    void Show();
    std::vector<Work> Exposed();
    void End() { phase_ = Phase::Ended; }

    // Keeps work until the window is shown, in the order given; false (and the
    // work left with the caller) when it may run now. Work given once the
    // dialog ended is dropped.
    bool Defer(Work& work);

    // While one of these lives, state changes of the window are the program's
    // own, not the user's.
    class ProgramChange {
    public:
        explicit ProgramChange(WindowLifecycle& life) : life_(life), was_(life.programChanging_) {
            life_.programChanging_ = true;
        }
        ~ProgramChange() { life_.programChanging_ = was_; }
        ProgramChange(const ProgramChange&) = delete;
        ProgramChange& operator=(const ProgramChange&) = delete;

    private:
        WindowLifecycle& life_;
        bool was_;
    };
    bool ProgramIsChanging() const { return programChanging_; }

    // Every show, hide or minimise the program asks for supersedes the earlier
    // ones; a request carried out later (a hide waits a turn of the loop, a
    // minimise waits for the map) first checks that it is still the latest.
    unsigned NewVisibilityRequest() { return ++visibilityRequest_; }
    bool IsLatest(unsigned request) const { return request == visibilityRequest_; }

private:
    Phase phase_ = Phase::Closed;
    std::vector<Work> waitingForShow_;
    bool programChanging_ = false;
    unsigned visibilityRequest_ = 0;
};

// Calls then once, on the loop's next turn after the window system first
// reports the widget's window exposed (mapped by the window manager), or after
// a second if it never does (a window on another desktop).
void WhenExposed(QWidget* widget, std::function<void()> then);

}  // namespace platform
