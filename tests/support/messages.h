// Texts the program shows, as the tests expect them.
#pragma once

#include <QString>

namespace testsupport {

// The settings reader's message for an invalid value of key.
inline QString InvalidValueMessage(const char* key) {
    return QString("The %1 does not have a valid value in your .cfg file - reseting to default")
        .arg(key);
}

}  // namespace testsupport
