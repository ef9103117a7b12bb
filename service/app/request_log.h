// The log line of one answered request.
#pragma once

#include <string>

#include "service/http/request_head.h"
#include "service/http/response.h"

namespace service {

// One line, time first, written at once so lines never interleave and an
// unbuffered log costs one write; every value from the request escaped. req
// is null for a request that could not be read.
std::string RequestLogLine(const std::string& peer, const HttpRequest* req,
                           const HttpResponse& res);

}  // namespace service
