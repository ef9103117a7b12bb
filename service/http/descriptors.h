// The process's file descriptors as the server counts them: how many
// connections fit, and which accept errors mean that none are left.
#pragma once

#include <boost/system/error_code.hpp>

namespace service {

// Room for as many connections as the descriptor limit allows, raised as far
// as this process may, less a reserve for the database, the log and the
// server's own that grows with the limit (24 to 64).
int ConnectionsAllowedByDescriptors();

// Whether an accept failed for want of descriptors or buffers, which a
// closing connection gives back.
bool OutOfDescriptors(const boost::system::error_code& error);

}  // namespace service
