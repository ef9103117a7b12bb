// The local time of day, for the status log's time stamps.
#pragma once

#include <QTime>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QTime CurrentTime() const = 0;
};

}  // namespace platform
