// The log is the service's standard error; an operator who sends it to a file
// rotates that file by renaming it and sending SIGHUP.
#pragma once

#include <string>

namespace service {

// The name of the file standard error is, when it is a regular file; empty
// otherwise. Read it at start, before anyone renames the file.
std::string LogFileName();

// Opens standard error anew by that name, so that what follows goes to a new
// file of the old name; returns what happened, in words for the log.
std::string ReopenLogFile(const std::string& name);

}  // namespace service
