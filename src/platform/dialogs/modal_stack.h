// The modal loops running now, dialogs and message boxes, innermost last. When
// the program is asked to end (a close request, Exit), everything open above
// the main window goes first, and nothing new opens until the stack is empty.
#pragma once

#include <functional>

namespace platform {

class ModalStack {
public:
    using Closer = std::function<void()>;

    // Enters a modal loop; closer ends it. Returns a token for Leave.
    static int Enter(Closer closer);
    static void Leave(int token);

    // Ends every loop above the outermost one (innermost first) and refuses
    // new ones until every loop has been left.
    static void EndNestedLoops();
    static bool IsEnding();
};

// Marks a modal loop for the lifetime of the object.
class ModalScope {
public:
    explicit ModalScope(ModalStack::Closer closer) : token_(ModalStack::Enter(std::move(closer))) {}
    ~ModalScope() { ModalStack::Leave(token_); }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    int token_;
};

}  // namespace platform
