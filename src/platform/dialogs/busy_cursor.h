// The busy cursor over the program's windows.
#pragma once

namespace platform {

// Shows the busy cursor over the program's windows while work blocks the
// event loop (the update exchange).
class BusyCursor {
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace platform
