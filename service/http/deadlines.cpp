// The deadlines of heads and replies: one timer for all connections, armed
// for the earliest.
#include <sys/socket.h>

#include <algorithm>

#include "service/http/server_impl.h"

namespace service {

namespace {

// Deadlines are met this late at most, so that the stale entries a flood
// leaves behind (one per answer) cost a few wake-ups a second, not one each.
constexpr auto kTimerSlack = std::chrono::milliseconds(50);

}  // namespace

void HttpServer::Impl::SetDeadline(Connection& c) {
    deadlines.push_back({Clock::now() + limits.deadline, c.id, ++c.deadlineSerial});
    ArmDeadlineTimer();
}

void HttpServer::Impl::ArmDeadlineTimer() {
    if (deadlineTimerSet || deadlines.empty()) {
        return;
    }
    deadlineTimerSet = true;
    deadlineTimer.expires_at(std::max(deadlines.front().when, Clock::now() + kTimerSlack));
    deadlineTimer.async_wait([this](const ErrorCode& error) {
        deadlineTimerSet = false;
        if (!error) {
            ExpireDeadlines();
            ArmDeadlineTimer();
        }
    });
}

Connection* HttpServer::Impl::Live(const Deadline& d) {
    auto it = connections.find(d.id);
    return it != connections.end() && it->second->deadlineSerial == d.serial ? it->second.get()
                                                                             : nullptr;
}

void HttpServer::Impl::ExpireDeadlines() {
    const auto now = Clock::now();
    while (!deadlines.empty() && deadlines.front().when <= now) {
        const Deadline d = deadlines.front();
        deadlines.pop_front();
        Connection* c = Live(d);
        if (c == nullptr || c->phase == Phase::Answering || c->phase == Phase::Closed) {
            continue;
        }
        if (c->phase == Phase::Reading && !c->in.empty()) {
            const HttpResponse timeout = HttpResponse::Status(408);
            logger(c->peer, nullptr, timeout);
            const std::string text = SerializeResponse(timeout, false, false);
            [[maybe_unused]] ssize_t n =
                send(c->socket.native_handle(), text.data(), text.size(), MSG_NOSIGNAL);
        }
        Drop(*c);
    }
}

}  // namespace service
