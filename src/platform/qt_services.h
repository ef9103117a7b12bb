// The real shell and clock.
#pragma once

#include "platform/clock.h"
#include "platform/shell.h"

namespace platform {

class QtShell : public Shell {
public:
    bool Open(const QString& target) override;
};

class QtClock : public Clock {
public:
    QTime CurrentTime() const override;
};

}  // namespace platform
