// The accounts in a PostgreSQL database that several service instances share.
// Each call borrows one of a few pooled connections; DNS publication has a
// connection of its own, which holds its claims on names. A connection that
// breaks is opened again at its next use, at most once a second while the
// database stays away, so a database that returns is used again without a
// restart.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

#include "service/account_store.h"

struct pg_conn;
struct pg_result;

namespace service {

class PostgresStore final : public AccountStore {
public:
    static std::unique_ptr<AccountStore> Open(const std::string& uri, std::string& error);
    ~PostgresStore() override;

    Presence Look(const std::string& name, Account& out) override;
    std::vector<Account> List() override;
    bool Add(const std::string& name, const std::string& passwordHash) override;
    bool SetPasswordHash(const std::string& name, const std::string& passwordHash) override;
    bool SetBanned(const std::string& name, bool banned) override;
    bool Remove(const std::string& name) override;
    Recording RecordUpdate(const std::string& name, const std::string& provedHash,
                           const std::string& address, std::int64_t when) override;
    int ConcurrentWrites() const override { return kWriters; }
    std::optional<std::vector<Publication>> PendingPublications() override;
    Claim ClaimPublication(const std::string& name, Publication& now) override;
    void ReleasePublication(const std::string& name) override;
    bool MarkPublished(const std::string& name, const std::string& address) override;
    std::int64_t DataVersion() override;
    Trouble LastTrouble() override;
    std::string LastError() override;
    void SetNotice(Notice notice) override { notice_ = std::move(notice); }

    // A statement prepared on each connection at its first use.
    struct Statement {
        const char* name;
        const char* sql;
    };

private:
    static constexpr int kWriters = 2;
    // The lookups' thread, the writers and one for commands or the odd
    // overlap.
    static constexpr std::size_t kPooled = kWriters + 2;

    struct Link {
        pg_conn* conn = nullptr;
        std::set<std::string> prepared;
        std::chrono::steady_clock::time_point nextAttempt{};
        ~Link();
        void Drop();
    };
    using Result = std::unique_ptr<pg_result, void (*)(pg_result*)>;
    struct Outcome {
        Result result;
        std::string sqlState;  // of a failed statement
        explicit operator bool() const { return result != nullptr; }
    };
    // A pooled connection, given back when it goes.
    class Lease {
    public:
        explicit Lease(PostgresStore& store);
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Link& operator*() { return *link_; }

    private:
        PostgresStore& store_;
        std::unique_ptr<Link> link_;
    };

    explicit PostgresStore(std::string uri) : uri_(std::move(uri)) {}
    // Opens link's connection when it has none or a broken one.
    bool Connect(Link& link);
    // Runs a prepared statement, once more on a fresh connection when the
    // old one turns out broken; a null result on failure, told to LastError.
    Outcome Run(Link& link, const Statement& st, const std::vector<std::string>& params);
    Outcome Pooled(const Statement& st, const std::vector<std::string>& params);
    // The rows a pooled statement changed, or -1.
    int Change(const Statement& st, const std::vector<std::string>& params);
    std::vector<Account> Accounts(const Statement& st, const std::vector<std::string>& params,
                                  bool& ok);
    std::optional<std::vector<Publication>> Pending(const Statement& st,
                                                    const std::vector<std::string>& params);
    // Creates or migrates the schema, once among instances starting at once.
    bool Prepare(Link& link);
    // The result of what was just sent (if sent), waited for at most a few
    // seconds: a server that stopped answering must not hold a thread for
    // ever. Null, with the connection dropped, when no answer came.
    Result Await(Link& link, bool sent);
    Result Query(Link& link, const std::string& sql);
    bool Exec(Link& link, const std::string& sql);
    void Note(Trouble trouble, const std::string& text);

    const std::string uri_;
    std::mutex poolMutex_;
    std::condition_variable returned_;
    std::vector<std::unique_ptr<Link>> idle_;
    std::size_t created_ = 0;
    std::mutex publisherMutex_;
    Link publisher_;
    Notice notice_ = [](const std::string&) {};
    std::atomic<bool> away_ = false;  // the last connection attempt failed
    std::mutex troubleMutex_;
    Trouble trouble_ = Trouble::None;
    std::string troubleText_;
};

}  // namespace service
