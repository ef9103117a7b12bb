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
    constexpr rlim_t kReserved = 64;  // database, log, the server's own
    return limit.rlim_cur > kReserved
               ? static_cast<int>(std::min<rlim_t>(limit.rlim_cur - kReserved, 1 << 20))
               : 1;
}

bool OutOfDescriptors(const boost::system::error_code& error) {
    namespace error_codes = boost::asio::error;
    return error == error_codes::no_descriptors || error.value() == ENFILE ||
           error == error_codes::no_buffer_space || error == error_codes::no_memory;
}

}  // namespace service
