#include "service/app/run_service.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ostream>

#include "service/app/request_log.h"
#include "service/app/routes.h"
#include "service/app/updates.h"
#include "service/common/log_file.h"
#include "service/common/log_line.h"
#include "service/common/log_writer.h"
#include "service/common/refusal_summary.h"
#include "service/common/utc_time.h"
#include "service/dns/publisher.h"
#include "service/http/server.h"
#include "service/http/stop_signals.h"

namespace service {

namespace {

// Binds each listener the options ask for, telling each in the log; false
// when one cannot be had.
bool ListenAsAsked(HttpServer& server, const HostPort& address, const TlsOptions& tls,
                   LogWriter& log) {
    std::string error;
    if (!tls.certFile.empty() && !server.LoadTls(tls.certFile, tls.keyFile, error)) {
        log.Write(ServiceLine("cannot load the TLS certificate and key: " + error));
        return false;
    }
    std::vector<std::pair<HostPort, bool>> listeners;  // where, and whether TLS
    if (tls.certFile.empty() || tls.listen) {
        listeners.emplace_back(address, false);
    }
    if (!tls.certFile.empty()) {
        listeners.emplace_back(tls.listen.value_or(address), true);
    }
    for (const auto& [where, overTls] : listeners) {
        const std::string text = where.host + ":" + std::to_string(where.port);
        if (!server.Listen(where.host, where.port, error, overTls)) {
            log.Write(ServiceLine("cannot listen on " + text + " (" + error +
                                  "; is the port taken by another program?)"));
            return false;
        }
        log.Write(ServiceLine("listening on " + text + (overTls ? " (TLS)" : "")));
    }
    return true;
}

// What SIGHUP does to the TLS files: a pair that loads serves new
// connections; one that does not is told, and the pair before stays.
std::string RenewTls(HttpServer& server, const TlsOptions& tls) {
    std::string error;
    return server.LoadTls(tls.certFile, tls.keyFile, error)
               ? "TLS certificate " + tls.certFile + " loaded again for new connections"
               : "TLS certificate not renewed (" + error + "); the one loaded before stays";
}

}  // namespace

int RunService(AccountStore& store, const HostPort& address, std::ostream& out,
               const std::optional<DnsTarget>& dns, const std::vector<std::string>& trustedProxies,
               const TlsOptions& tls) {
    BlockStopSignals();  // before the pools and the log start their threads
    // A log reader that goes away (a closed pipe) must not end the service.
    std::signal(SIGPIPE, SIG_IGN);

    LogWriter log(out);
    // Told while the store's users below run; they end before the log does.
    store.SetNotice(log.Sink());
    RefusalSummary refusals;
    // Before the updates, whose work refers to it until they end.
    const HostNaming naming = dns ? HostNaming{dns->zone, dns->reserved} : HostNaming{};
    Updates updates(store);
    std::optional<DnsPublication> publication;
    if (dns) {
        publication.emplace(store, *dns, log.Sink());
        updates.addressChanged = [&publication] { publication->Nudge(); };
    }
    AccountPage account(store, updates, naming);
    const Routes routes{updates, naming, account};
    ForwardedFieldNotes forwardedNotes;
    HttpServer server(
        [&routes, &trustedProxies](const HttpRequest& req, const std::string& peer,
                                   HttpServer::Reply reply) -> std::optional<HttpResponse> {
            const std::optional<std::string> client = ClientAddress(peer, &req, trustedProxies);
            if (!client) {
                return HttpResponse::Status(400);
            }
            return Route(routes, req, *client, OverHttps(peer, req, trustedProxies),
                         std::move(reply));
        },
        [&log, &refusals, &forwardedNotes, &trustedProxies](
            const std::string& connection, const HttpRequest* req, const HttpResponse& res) {
            const std::int64_t now = NowSeconds();
            const std::optional<std::string> client =
                ClientAddress(connection, req, trustedProxies);
            std::string lines = refusals.Over(now);
            if (!client) {
                lines += forwardedNotes.Note(connection, *req->forwardedFor, now);
            }
            const std::string& peer = client ? *client : connection;
            std::string before;
            if (res.status != kTooManyFailures || refusals.Log(peer, now, before)) {
                lines += before + RequestLogLine(peer, req, res);
            }
            log.Write(std::move(lines));
        },
        log.Sink());
    if (!ListenAsAsked(server, address, tls, log)) {
        return 1;
    }
    const int received = server.Run([&log, &server, &tls, logFile = LogFileName()] {
        log.Flush();  // what was said before goes to the file it was said in
        log.Write(ServiceLine(ReopenLogFile(logFile)));
        if (!tls.certFile.empty()) {
            log.Write(ServiceLine(RenewTls(server, tls)));
        }
    });
    log.Write(refusals.Over(NowSeconds(), true));
    log.Write(ServiceLine("stopping on signal " + std::to_string(received)));
    // Work under way is given a moment; a write cut short by the exit is rolled
    // back by the database's journal, so nothing is corrupted.
    // The process ends at once where a stalled log reader would hold it: a
    // normal exit waits for the standard error stream, which the log's writer
    // holds while its write blocks.
    const bool pagesDone = account.Stop(std::chrono::milliseconds(500));
    const bool finished = updates.Stop(std::chrono::milliseconds(1500)) && pagesDone;
    if (!finished) {
        log.Write(ServiceLine("stopped with requests still being answered"));
    }
    if (!log.Flush() || !finished) {
        std::_Exit(0);
    }
    return 0;
}

}  // namespace service
