// The real shell and clock, and the program's name.
#pragma once

#include <QString>

#include "platform/clock.h"
#include "platform/session/shell.h"

namespace platform {

class QtShell : public Shell {
public:
    bool Open(const QString& target) override;
    QString MissingOpener() const override;
};

class QtClock : public Clock {
public:
    QTime CurrentTime() const override;
};

// The name the program was started by, without its extension ("Kestrome-1.2"
// for a link named "Kestrome-1.2.bin"): the caption of its message boxes and
// the name of its help file.
QString ExecutableName(const char* argv0);

}  // namespace platform
