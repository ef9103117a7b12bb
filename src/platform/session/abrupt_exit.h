// Work to do when the program is ended by exit() from below its event loop:
// Qt's X11 platform calls it when the display goes away (an X server that
// crashed, a broken remote session), so no window closes and no close box is
// pressed.
#pragma once

#include <functional>

namespace platform {

// While set, save runs once if the program exits that way; it must show
// nothing, since there may be no display left. Cleared by an empty function.
void WhenEndedAbruptly(std::function<void()> save);

}  // namespace platform
