#include "service/app/request_log.h"

#include "service/app/routes.h"
#include "service/common/basic_auth.h"
#include "service/common/log_line.h"
#include "service/common/utc_time.h"

namespace service {

std::string RequestLogLine(const std::string& peer, const HttpRequest* req,
                           const HttpResponse& res) {
    std::string line = FormatUtc(NowSeconds(), "%Y-%m-%dT%H:%M:%SZ") + " " + peer + " ";
    if (req == nullptr) {
        return line + "refused request status=" + std::to_string(res.status) + "\n";
    }
    line += LogSafe(req->method) + " " + LogSafe(req->path);
    if (req->path == kUpdatePath) {
        line += " login=\"" + LogSafe(QueryValue(req->query, "login")) + "\"";
        if (res.status == 200) {
            return line + " reply=" + res.body.substr(0, 3) + "\n";
        }
    }
    if (req->path == kDynUpdatePath) {
        const auto credentials = ParseBasicAuthorization(req->authorization);
        line += " login=\"" + LogSafe(credentials ? credentials->user : "") + "\" hostname=\"" +
                LogSafe(QueryValue(req->query, "hostname")) + "\"";
        if (res.status == 200) {
            return line + " reply=\"" + LogSafe(res.body) + "\"\n";
        }
    }
    return line + " status=" + std::to_string(res.status) + "\n";
}

}  // namespace service
