#include "service/server.h"

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <ostream>

#include "service/address_block.h"
#include "service/dns_publication.h"
#include "service/http_server.h"
#include "service/log_writer.h"
#include "service/update_decision.h"
#include "service/verification_queue.h"
#include "service/work_pool.h"

namespace service {

namespace {

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A value shown in the log: every byte outside printable ASCII, and the quote
// and backslash, escaped, so that no request can forge or garble a line; long
// values cut.
std::string LogSafe(const std::string& text) {
    std::string out;
    for (unsigned char c : text.substr(0, 64)) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return text.size() > 64 ? out + "..." : out;
}

// The work behind an update, off the thread that serves the sockets: lookups
// in one pool, the password verifications in a fair queue, and the writes in
// a pool of their own, so clients answered from memory never wait behind a
// verification, and nothing that needs no write waits behind one that waits
// for the database.
struct Updates {
    explicit Updates(AccountStore& s) : store(s) {}

    // Told when an update recorded a new address.
    std::function<void()> addressChanged = [] {};

    // Not a reply of the protocol: the work for a client that had gone was
    // skipped. Only ever logged.
    static constexpr int kClientGone = 499;

    AccountStore& store;
    PasswordCheck check;
    WorkPool lookups{1};
    VerificationQueue verifications{ProcessorCount(), [this](const std::string& block) {
                                        return check.FailuresOf(block, Now());
                                    }};
    WorkPool records{store.ConcurrentWrites()};

    static HttpResponse Response(const UpdateReply& reply) {
        if (reply.code == kNotStored || reply.code == kTooManyFailures) {
            return HttpResponse::Status(reply.code);
        }
        return HttpResponse::Content("text/plain", reply.body);
    }

    // An address refused for now is answered at once, without waiting for
    // any pool.
    std::optional<HttpResponse> Start(const HttpRequest& req, const std::string& peer,
                                      HttpServer::Reply reply) {
        if (check.Refused(peer, Now())) {
            return HttpResponse::Status(kTooManyFailures);
        }
        lookups.Post([this, login = QueryValue(req.query, "login"),
                      password = QueryValue(req.query, "password"), peer, reply] {
            UpdateStep step = BeginUpdate(store, check, login, password, peer, Now());
            if (step.reply) {
                reply(Response(*step.reply));
            } else if (step.proved) {
                Record(std::move(step.account), peer, reply);
            } else {
                Verify(std::move(step.account), password, peer, reply);
            }
        });
        return std::nullopt;
    }

    void Verify(Account account, const std::string& password, const std::string& peer,
                const HttpServer::Reply& reply) {
        VerificationQueue::Job job;
        job.run = [this, account = std::move(account), password, peer, reply]() mutable {
            if (auto refused = VerifyUpdate(check, account, password, peer, Now())) {
                reply(Response(*refused));
            } else {
                Record(std::move(account), peer, reply);
            }
        };
        job.gone = [reply] { return reply.ClientGone(); };
        job.skip = [reply] { reply(HttpResponse::Status(kClientGone)); };
        verifications.Post(AddressBlock(peer), std::move(job));
    }

    void Record(Account account, const std::string& peer, const HttpServer::Reply& reply) {
        records.Post([this, account = std::move(account), peer, reply] {
            const UpdateReply answer = RecordUpdate(store, check, account, peer, Now());
            reply(Response(answer));
            if (answer.code == kUpdated && account.lastAddress != peer) {
                addressChanged();
            }
        });
    }

    // Stops taking work; false when some is still running after within.
    bool Stop(std::chrono::milliseconds within) {
        const auto until = std::chrono::steady_clock::now() + within;
        const auto left = [until] {
            return std::max(std::chrono::duration_cast<std::chrono::milliseconds>(
                                until - std::chrono::steady_clock::now()),
                            std::chrono::milliseconds::zero());
        };
        return lookups.Stop(left()) && verifications.Stop(left()) && records.Stop(left());
    }
};

// Only GET records an update; the home page also answers HEAD.
std::optional<HttpResponse> Route(Updates& updates, const HttpRequest& req, const std::string& peer,
                                  HttpServer::Reply reply) {
    if (req.path == "/process.php") {
        if (req.method != "GET") {
            return HttpResponse::NotAllowed("GET");
        }
        return updates.Start(req, peer, std::move(reply));
    }
    if (req.path == "/") {
        if (req.method != "GET" && req.method != "HEAD") {
            return HttpResponse::NotAllowed("GET, HEAD");
        }
        return HttpResponse::Content("text/html; charset=utf-8", HomePage());
    }
    return HttpResponse::Status(404);
}

// The address a request comes from: the connection's, or, for a request a
// trusted load balancer relayed, the client's address that it added.
std::string ClientAddress(const std::string& peer, const HttpRequest* req,
                          const std::vector<std::string>& trustedProxies) {
    if (req == nullptr || req->forwardedFor.empty() ||
        std::find(trustedProxies.begin(), trustedProxies.end(), peer) == trustedProxies.end()) {
        return peer;
    }
    const std::string client = CanonicalAddress(req->forwardedFor);
    return client.empty() ? peer : client;
}

// One line per request, written at once so lines never interleave and an
// unbuffered log costs one write.
std::string LogLine(const std::string& peer, const HttpRequest* req, const HttpResponse& res) {
    std::string line = FormatUtc(Now(), "%Y-%m-%dT%H:%M:%SZ") + " " + peer + " ";
    if (req == nullptr) {
        return line + "refused request status=" + std::to_string(res.status) + "\n";
    }
    line += LogSafe(req->method) + " " + LogSafe(req->path);
    if (req->path == "/process.php") {
        line += " login=\"" + LogSafe(QueryValue(req->query, "login")) + "\"";
        if (res.status == 200) {
            return line + " reply=" + res.body.substr(0, 3) + "\n";
        }
    }
    return line + " status=" + std::to_string(res.status) + "\n";
}

}  // namespace

std::string FormatUtc(std::int64_t when, const char* format) {
    const std::time_t t = static_cast<std::time_t>(when);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

std::string CanonicalAddress(const std::string& text) {
    unsigned char raw[sizeof(in6_addr)];
    char shown[INET6_ADDRSTRLEN];
    for (const int family : {AF_INET, AF_INET6}) {
        if (inet_pton(family, text.c_str(), raw) == 1 &&
            inet_ntop(family, raw, shown, sizeof shown) != nullptr) {
            return shown;
        }
    }
    return "";
}

bool ParseListenAddress(const std::string& text, ListenAddress& out) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        return false;
    }
    std::string host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const std::string port = text.substr(colon + 1);
    if (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5) {
        return false;
    }
    const int value = std::stoi(port);
    if (value < 1 || value > 65535) {
        return false;
    }
    out = {host, value};
    return true;
}

std::string HomePage() {
    return R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Kestrome update service</title></head>
<body>
<h1>Kestrome update service</h1>
<p>This service records the Internet address from which each account last
checked in. The Kestrome client asks it to do so when you press Connect, and
again every few minutes while it stays connected.</p>
<h2>Accounts</h2>
<p>An administrator creates an account on the service's machine with</p>
<pre>kestrome-service user add NAME</pre>
<p>which asks for the password. <code>kestrome-service user list</code> shows each
account with the address and time of its last update.</p>
</body></html>
)";
}

int Serve(AccountStore& store, const ListenAddress& address, std::ostream& out,
          const std::optional<DnsTarget>& dns, const std::vector<std::string>& trustedProxies) {
    BlockStopSignals();  // before the pools and the log start their threads
    // A log reader that goes away (a closed pipe) must not end the service.
    std::signal(SIGPIPE, SIG_IGN);

    LogWriter log(out);
    // Told while the store's users below run; they end before the log does.
    store.SetNotice([&log](const std::string& line) { log.Write(line); });
    RefusalSummary refusals;
    Updates updates(store);
    std::optional<DnsPublication> publication;
    if (dns) {
        publication.emplace(store, *dns, [&log](const std::string& line) { log.Write(line); });
        updates.addressChanged = [&publication] { publication->Nudge(); };
    }
    HttpServer server(
        [&updates, &trustedProxies](const HttpRequest& req, const std::string& peer,
                                    HttpServer::Reply reply) {
            return Route(updates, req, ClientAddress(peer, &req, trustedProxies), std::move(reply));
        },
        [&log, &refusals, &trustedProxies](const std::string& connection, const HttpRequest* req,
                                           const HttpResponse& res) {
            const std::string peer = ClientAddress(connection, req, trustedProxies);
            const std::int64_t now = Now();
            std::string lines = refusals.Over(now);
            std::string before;
            if (res.status != kTooManyFailures || refusals.Log(peer, now, before)) {
                lines += before + LogLine(peer, req, res);
            }
            log.Write(std::move(lines));
        },
        [&log](const std::string& line) { log.Write(line); });
    const std::string where = address.host + ":" + std::to_string(address.port);
    std::string error;
    if (!server.Listen(address.host, address.port, error)) {
        log.Write("kestrome-service: cannot listen on " + where + " (" + error +
                  "; is the port taken by another program?)\n");
        return 1;
    }
    log.Write("kestrome-service: listening on " + where + "\n");
    const int received = server.Run();
    log.Write(refusals.Over(Now(), true));
    log.Write("kestrome-service: stopping on signal " + std::to_string(received) + "\n");
    // Work under way is given a moment; a write cut short by the exit is rolled
    // back by the database's journal, so nothing is corrupted.
    // The process ends at once where a stalled log reader would hold it: a
    // normal exit waits for the standard error stream, which the log's writer
    // holds while its write blocks.
    const bool finished = updates.Stop(std::chrono::milliseconds(1500));
    if (!finished) {
        log.Write("kestrome-service: stopped with requests still being answered\n");
    }
    if (!log.Flush() || !finished) {
        std::_Exit(0);
    }
    return 0;
}

}  // namespace service
