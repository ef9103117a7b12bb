#include "service/http/descriptors.h"

#include <sys/resource.h>

#include <algorithm>
#include <boost/asio/error.hpp>
#include <cerrno>

namespace service {

int ConnectionsAllowedByDescriptors() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;
    }
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
    // For the database's connections or files, the log, DNS and the server's
    // own: a quarter of a small limit, never fewer than 24 nor more than 64.
    const rlim_t reserved = std::clamp<rlim_t>(limit.rlim_cur / 4, 24, 64);
    return limit.rlim_cur > reserved
               ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur - reserved, 1 << 20))
               : 1;
}

bool OutOfDescriptors(const boost::system::error_code& error) {
    namespace error_codes = boost::asio::error;
    return error == error_codes::no_descriptors || error.value() == ENFILE ||
           error == error_codes::no_buffer_space || error == error_codes::no_memory;
}

}  // namespace service
