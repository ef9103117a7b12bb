#include "service/store/postgres_link.h"

#include <libpq-fe.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "service/store/uri_secrets.h"

namespace service::postgres {

namespace {

using Trouble = AccountStore::Trouble;

// The longest wait for an answer, a little longer than the server's own
// statement time-out: past it the server is taken as gone.
constexpr auto kAnswerWait = std::chrono::seconds(10);
// A connection to a database that went away tries again after this long.
constexpr auto kReconnectPause = std::chrono::seconds(1);

// Defaults a URI can override: no wait without end for a host that vanished,
// and a name for the server's activity view.
constexpr const char* kDefaultKeywords[] = {
    "connect_timeout",  "tcp_user_timeout", "keepalives_idle", "keepalives_interval",
    "keepalives_count", "application_name", "dbname",          nullptr};
constexpr const char* kDefaultValues[] = {"3", "5000", "5", "2", "2", "kestrome-service"};

// The same wait for a busy database as the SQLite store's.
constexpr const char* kSessionSetup = "SET statement_timeout = '5s'";

// A libpq message on one line: its line breaks and tabs each one space.
std::string OneLine(const char* text) {
    std::string line;
    for (const char* c = text != nullptr ? text : ""; *c != '\0'; ++c) {
        const bool blank = *c == '\n' || *c == '\t' || *c == ' ';
        if (!blank || (!line.empty() && line.back() != ' ')) {
            line += blank ? ' ' : *c;
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return line;
}

// Lock and statement time-outs, serialisation failures and deadlocks.
bool IsBusy(const std::string& sqlState) {
    return sqlState == "57014" || sqlState == "55P03" || sqlState == "40001" || sqlState == "40P01";
}

std::string SqlState(const pg_result* r) {
    const char* state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
    return state != nullptr ? state : "";
}

bool Succeeded(const pg_result* r) {
    const ExecStatusType status = PQresultStatus(r);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

Result NoResult() {
    return Result(nullptr, PQclear);
}

}  // namespace

std::string Field(pg_result* r, int row, int column) {
    return PQgetvalue(r, row, column);
}

int ChangedRows(const Outcome& done) {
    return done ? std::atoi(PQcmdTuples(done.result.get())) : -1;
}

int RowCount(const Outcome& done) {
    return done ? PQntuples(done.result.get()) : 0;
}

Link::~Link() {
    Drop();
}

void Link::Drop() {
    PQfinish(conn);
    conn = nullptr;
    prepared.clear();
}

Connections::Lease::Lease(Connections& pool) : pool_(pool) {
    std::unique_lock lock(pool.poolMutex_);
    pool.returned_.wait(lock,
                        [&pool] { return !pool.idle_.empty() || pool.created_ < pool.pooled_; });
    if (pool.idle_.empty()) {
        ++pool.created_;
        link_ = std::make_unique<Link>();
    } else {
        link_ = std::move(pool.idle_.back());
        pool.idle_.pop_back();
    }
}

Connections::Lease::~Lease() {
    {
        std::lock_guard lock(pool_.poolMutex_);
        pool_.idle_.push_back(std::move(link_));
    }
    pool_.returned_.notify_one();
}

Connections::Connections(std::string uri, std::size_t pooled)
    : uri_(std::move(uri)), secrets_(UriSecrets(uri_)), pooled_(pooled) {}

void Connections::Note(Trouble trouble, const std::string& text) {
    std::lock_guard lock(troubleMutex_);
    trouble_ = trouble;
    troubleText_ = text;
}

Trouble Connections::LastTrouble() {
    std::lock_guard lock(troubleMutex_);
    return trouble_;
}

std::string Connections::LastError() {
    std::lock_guard lock(troubleMutex_);
    return troubleText_;
}

void Connections::NoteFailure(Link& link, const pg_result* r) {
    Note(IsBusy(SqlState(r)) ? Trouble::Busy : Trouble::Failed, Said(link));
}

std::string Connections::Said(const Link& link) const {
    return WithoutSecrets(OneLine(PQerrorMessage(link.conn)), secrets_);
}

bool Connections::Connect(Link& link) {
    if (link.conn != nullptr && PQstatus(link.conn) == CONNECTION_OK) {
        return true;
    }
    link.Drop();
    const auto now = std::chrono::steady_clock::now();
    if (now < link.nextAttempt) {
        Note(Trouble::Failed, "the database cannot be reached; trying again shortly");
        return false;
    }
    const char* values[std::size(kDefaultKeywords)] = {};
    std::copy(std::begin(kDefaultValues), std::end(kDefaultValues), values);
    values[std::size(kDefaultKeywords) - 2] = uri_.c_str();
    link.conn = PQconnectdbParams(kDefaultKeywords, values, 1);
    if (PQstatus(link.conn) != CONNECTION_OK) {
        const std::string why = Said(link);
        Note(Trouble::Failed, why);
        link.Drop();
        link.nextAttempt = now + kReconnectPause;
        if (!away_.exchange(true)) {
            notice_(ServiceLine("the database cannot be reached (" + why +
                                "); updates are answered 503 until it is back"));
        }
        return false;
    }
    if (away_.exchange(false)) {
        notice_(ServiceLine("the database is reachable again"));
    }
    return Exec(link, kSessionSetup);
}

Result Connections::Await(Link& link, bool sent) {
    const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    while (sent && PQisBusy(link.conn)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd ready{PQsocket(link.conn), POLLIN, 0};
        if (left <= 0 || (poll(&ready, 1, static_cast<int>(left)) < 0 && errno != EINTR)) {
            Note(Trouble::Failed, "the database did not answer within " +
                                      std::to_string(kAnswerWait.count()) + " s");
            link.Drop();
            return NoResult();
        }
        sent = PQconsumeInput(link.conn) == 1;
    }
    Result first = NoResult();
    while (PGresult* r = PQgetResult(link.conn)) {
        if (first) {
            PQclear(r);
        } else {
            first.reset(r);
        }
    }
    return first;
}

Result Connections::Query(Link& link, const std::string& sql) {
    return Await(link, PQsendQuery(link.conn, sql.c_str()) == 1);
}

bool Connections::Exec(Link& link, const std::string& sql) {
    if (link.conn == nullptr) {
        return false;  // dropped by a statement that got no answer, which told why
    }
    const Result r = Query(link, sql);
    if (Succeeded(r.get())) {
        return true;
    }
    if (link.conn != nullptr) {
        NoteFailure(link, r.get());
    }
    return false;
}

bool Connections::Prepared(Link& link, const Statement& st, int params) {
    if (!link.prepared.contains(st.name)) {
        const Result made = Await(link, PQsendPrepare(link.conn, st.name, st.sql, params, nullptr));
        if (PQresultStatus(made.get()) == PGRES_COMMAND_OK) {
            link.prepared.insert(st.name);
        }
    }
    return link.conn != nullptr;
}

Outcome Connections::Run(Link& link, const Statement& st, const std::vector<std::string>& params) {
    std::vector<const char*> values;
    for (const std::string& p : params) {
        values.push_back(p.c_str());
    }
    const int n = static_cast<int>(values.size());
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool wasOpen = link.conn != nullptr;
        if (!Connect(link)) {
            return {NoResult(), ""};
        }
        Result r = Prepared(link, st, n)
                       ? Await(link, PQsendQueryPrepared(link.conn, st.name, n, values.data(),
                                                         nullptr, nullptr, 0))
                       : NoResult();
        if (link.conn == nullptr) {
            return {NoResult(), ""};  // no answer in time, told by Await
        }
        if (Succeeded(r.get())) {
            Note(Trouble::None, "");
            return {std::move(r), ""};
        }
        NoteFailure(link, r.get());
        // A connection that broke since its last use (the database restarted)
        // is opened again at once.
        if (PQstatus(link.conn) == CONNECTION_OK || !wasOpen) {
            return {NoResult(), SqlState(r.get())};
        }
        link.Drop();
    }
    return {NoResult(), ""};
}

Outcome Connections::Pooled(const Statement& st, const std::vector<std::string>& params) {
    Lease lease(*this);
    return Run(*lease, st, params);
}

}  // namespace service::postgres
