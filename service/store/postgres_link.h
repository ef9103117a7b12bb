// The plumbing under the PostgreSQL store: connections opened with the
// service's defaults, a small pool of them, statements prepared once per
// connection and run with a bounded wait, and what went wrong last. A
// connection that breaks is opened again at its next use, at most once a
// second while the database stays away.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "service/common/log_line.h"
#include "service/store/account_store.h"

struct pg_conn;
struct pg_result;

namespace service::postgres {

// The advisory locks of the service: they serialise schema set-up and name
// the claims on published names; any constant that no other program sharing
// the database is likely to use.
inline constexpr const char* kLockSpace = "1263748941";

// A statement prepared on each connection at its first use.
struct Statement {
    const char* name;
    const char* sql;
};

using Result = std::unique_ptr<pg_result, void (*)(pg_result*)>;

struct Outcome {
    Result result;
    std::string sqlState;  // of a failed statement
    explicit operator bool() const { return result != nullptr; }
};

// One connection and the statements prepared on it.
struct Link {
    pg_conn* conn = nullptr;
    std::set<std::string> prepared;
    std::chrono::steady_clock::time_point nextAttempt{};
    ~Link();
    void Drop();
};

// A row's field as text.
std::string Field(pg_result* r, int row, int column);
// How many rows a statement changed.
int ChangedRows(const Outcome& done);
int RowCount(const Outcome& done);

class Connections {
public:
    Connections(std::string uri, std::size_t pooled);
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;

    // A pooled connection, given back when it goes; waits while all are lent.
    class Lease {
    public:
        explicit Lease(Connections& pool);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Link& operator*() { return *link_; }

    private:
        Connections& pool_;
        std::unique_ptr<Link> link_;
    };

    // Opens link's connection when it has none or a broken one.
    bool Connect(Link& link);
    // Runs a prepared statement, once more on a fresh connection when the
    // old one turns out broken; a null result on failure, told to LastError.
    Outcome Run(Link& link, const Statement& st, const std::vector<std::string>& params);
    // The same on a pooled connection.
    Outcome Pooled(const Statement& st, const std::vector<std::string>& params);
    // A plain statement (schema work, transactions).
    Result Query(Link& link, const std::string& sql);
    bool Exec(Link& link, const std::string& sql);

    void Note(AccountStore::Trouble trouble, const std::string& text);
    AccountStore::Trouble LastTrouble();
    std::string LastError();
    // Told when the database is lost and when it is back, once each time.
    void SetNotice(LineSink notice) { notice_ = std::move(notice); }

private:
    // The result of what was just sent (if sent), waited for at most a few
    // seconds: a server that stopped answering must not hold a thread for
    // ever. Null, with the connection dropped, when no answer came.
    Result Await(Link& link, bool sent);
    bool Prepared(Link& link, const Statement& st, int params);
    void NoteFailure(Link& link, const pg_result* r);
    // libpq's message on link, on one line, without the URI's password.
    std::string Said(const Link& link) const;

    const std::string uri_;
    const std::vector<std::string> secrets_;  // of uri_
    const std::size_t pooled_;
    std::mutex poolMutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<Link>> idle_;
    std::size_t created_ = 0;
    LineSink notice_ = [](const std::string&) {};
    std::atomic<bool> away_ = false;  // the last connection attempt failed
    std::mutex troubleMutex_;
    AccountStore::Trouble trouble_ = AccountStore::Trouble::None;
    std::string troubleText_;
};

}  // namespace service::postgres
