// The help file: an HTML page named like the executable, with one anchor per
// help context, opened in the user's browser.
#pragma once

#include <QString>

#include "platform/session/shell.h"

namespace platform {

// The help file of the running program: beside the executable, or in the
// installed data folder; empty when there is none.
QString FindHelpFile();

// Opens the help file at the topic of a help context. False when the help
// cannot be opened (no help file, or no program to show it).
bool LaunchHelp(Shell& shell, const QString& helpFile, unsigned context);

// The anchor of a help context in the help file, e.g. "0x20066".
QString HelpAnchor(unsigned context);

}  // namespace platform
