// Opening a web page, a mail link or the help file with the user's default program.
#pragma once

#include <QString>

namespace platform {

class Shell {
public:
    virtual ~Shell() = default;
    // Returns false when no program could be started for the target.
    virtual bool Open(const QString& target) = 0;
    // What the desktop lacks to open anything, in words for the user; empty
    // when nothing is missing.
    virtual QString MissingOpener() const = 0;
};

}  // namespace platform
