#include "platform/dialogs/modal_stack.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace platform {
namespace {

struct Loop {
    int token;
    ModalStack::Closer closer;
};

// The user-interface thread's loops; only that thread opens them.
struct Stack {
    std::vector<Loop> loops;
    int nextToken = 0;
    bool ending = false;
};

Stack& TheStack() {
    static Stack stack;
    return stack;
}

}  // namespace

int ModalStack::Enter(Closer closer) {
    Stack& stack = TheStack();
    stack.loops.push_back({++stack.nextToken, std::move(closer)});
    return stack.nextToken;
}

void ModalStack::Leave(int token) {
    Stack& stack = TheStack();
    std::erase_if(stack.loops, [token](const Loop& loop) { return loop.token == token; });
    if (stack.loops.empty()) {
        stack.ending = false;
    }
}

void ModalStack::EndNestedLoops() {
    Stack& stack = TheStack();
    if (stack.loops.empty()) {
        return;
    }
    stack.ending = true;
    // Copied: a closer may leave its loop at once.
    std::vector<Loop> nested(stack.loops.begin() + 1, stack.loops.end());
    std::for_each(nested.rbegin(), nested.rend(), [](const Loop& loop) { loop.closer(); });
}

bool ModalStack::IsEnding() {
    return TheStack().ending;
}

}  // namespace platform
