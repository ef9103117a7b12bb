// A window that receives commands from outside its own controls: the main
// dialog, as the tray icon reaches it.
#pragma once

namespace platform {

class CommandTarget {
public:
    virtual ~CommandTarget() = default;
    // Runs the command now; it may delete the caller.
    virtual void SendCommand(int id, int code = 0) = 0;
    // Queues the command.
    virtual void PostCommand(int id) = 0;
    virtual void SetForegroundWindow() = 0;
    // The tray icon went away with its host (false), or a host showed it again
    // (true).
    virtual void OnTrayIconShown(bool shown) = 0;
};

}  // namespace platform
