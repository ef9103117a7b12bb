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
std::vector<Loop>& Loops() {
    static std::vector<Loop> loops;
    return loops;
}
int g_nextToken = 0;
bool g_ending = false;

}  // namespace

int ModalStack::Enter(Closer closer) {
    Loops().push_back({++g_nextToken, std::move(closer)});
    return g_nextToken;
}

void ModalStack::Leave(int token) {
    auto& loops = Loops();
    std::erase_if(loops, [token](const Loop& loop) { return loop.token == token; });
    if (loops.empty()) {
        g_ending = false;
    }
}

void ModalStack::EndNestedLoops() {
    if (Loops().empty()) {
        return;
    }
    g_ending = true;
    // Copied: a closer may leave its loop at once.
    std::vector<Loop> nested(Loops().begin() + 1, Loops().end());
    std::for_each(nested.rbegin(), nested.rend(), [](const Loop& loop) { loop.closer(); });
}

bool ModalStack::IsEnding() {
    return g_ending;
}

}  // namespace platform
