// The wall clock as the service records and shows it: whole seconds since the
// epoch, UTC.
#pragma once

#include <cstdint>

#include <string>

namespace service {

std::int64_t NowSeconds();

// A time (seconds since the epoch) in UTC, in strftime's format.
std::string FormatUtc(std::int64_t when, const char* format);

}  // namespace service
