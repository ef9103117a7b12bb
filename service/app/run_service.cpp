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

int RunService(AccountStore& store, const HostPort& address, std::ostream& out,
               const std::optional<DnsTarget>& dns,
               const std::vector<std::string>& trustedProxies) {
    BlockStopSignals();  // before the pools and the log start their threads
    // A log reader that goes away (a closed pipe) must not end the service.
    std::signal(SIGPIPE, SIG_IGN);

    LogWriter log(out);
    // Told while the store's users below run; they end before the log does.
    store.SetNotice(log.Sink());
    RefusalSummary refusals;
    Updates updates(store);
    std::optional<DnsPublication> publication;
    if (dns) {
        publication.emplace(store, *dns, log.Sink());
        updates.addressChanged = [&publication] { publication->Nudge(); };
    }
    ForwardedFieldNotes forwardedNotes;
    HttpServer server(
        [&updates, &trustedProxies](const HttpRequest& req, const std::string& peer,
                                    HttpServer::Reply reply) -> std::optional<HttpResponse> {
            const std::optional<std::string> client = ClientAddress(peer, &req, trustedProxies);
            if (!client) {
                return HttpResponse::Status(400);
            }
            return Route(updates, req, *client, std::move(reply));
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
    const std::string where = address.host + ":" + std::to_string(address.port);
    std::string error;
    if (!server.Listen(address.host, address.port, error)) {
        log.Write(ServiceLine("cannot listen on " + where + " (" + error +
                              "; is the port taken by another program?)"));
        return 1;
    }
    log.Write(ServiceLine("listening on " + where));
    const int received = server.Run([&log, logFile = LogFileName()] {
        log.Flush();  // what was said before goes to the file it was said in
        log.Write(ServiceLine(ReopenLogFile(logFile)));
    });
    log.Write(refusals.Over(NowSeconds(), true));
    log.Write(ServiceLine("stopping on signal " + std::to_string(received)));
    // Work under way is given a moment; a write cut short by the exit is rolled
    // back by the database's journal, so nothing is corrupted.
    // The process ends at once where a stalled log reader would hold it: a
    // normal exit waits for the standard error stream, which the log's writer
    // holds while its write blocks.
    const bool finished = updates.Stop(std::chrono::milliseconds(1500));
    if (!finished) {
        log.Write(ServiceLine("stopped with requests still being answered"));
    }
    if (!log.Flush() || !finished) {
        std::_Exit(0);
    }
    return 0;
}

}  // namespace service
