// The accounts in an embedded SQLite file, the default store. Lookups have a
// connection of their own, so they never wait behind a write that waits for
// another process.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "service/store/account_store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace service {

class SqliteStore final : public AccountStore {
public:
    static std::unique_ptr<AccountStore> Open(const std::string& path, std::string& error,
                                              std::ostream* log);

    Presence Look(const std::string& name, Account& out) override;
    std::vector<Account> List() override;
    bool Add(const std::string& name, const std::string& passwordHash) override;
    bool SetPasswordHash(const std::string& name, const std::string& passwordHash) override;
    bool SetTokenHash(const std::string& name, const std::string& tokenHash) override;
    bool SetBanned(const std::string& name, bool banned) override;
    bool Remove(const std::string& name) override;
    bool AddSession(const std::string& idHash, const WebSession& session,
                    std::int64_t now) override;
    Presence FindSession(const std::string& idHash, std::int64_t now, WebSession& out) override;
    bool RemoveSession(const std::string& idHash) override;
    bool RemoveSessions(const std::string& login, const std::string& keepHash) override;
    bool ReadHosts(Account& account) override;
    bool AddHost(const std::string& login, const std::string& label,
                 const std::string& tokenHash) override;
    bool SetHostToken(const std::string& login, const std::string& label,
                      const std::string& tokenHash) override;
    bool RemoveHost(const std::string& login, const std::string& label) override;
    Recording RecordUpdate(const std::string& name, const std::string& provedHash,
                           const HostUpdate& update, const std::string& from,
                           std::int64_t when) override;
    int ConcurrentWrites() const override { return 1; }
    std::optional<std::vector<Publication>> PendingPublications() override;
    Claim ClaimPublication(const std::string& name, Publication& now) override;
    void ReleasePublication(const std::string&) override {}
    bool MarkPublished(const std::string& name, const std::string& address) override;
    bool NoteFailure(const std::string& name, const std::string& reason) override;
    bool NoteZone(const std::vector<HeldName>& held) override;
    std::int64_t DataVersion() override;
    Trouble LastTrouble() override;
    std::string LastError() override;

private:
    // One connection to the database, with its prepared statements and the
    // outcome of its last statement.
    struct Link {
        sqlite3* db = nullptr;
        std::mutex mutex;
        Trouble trouble = Trouble::None;
        std::string troubleText;
        std::unordered_map<std::string, sqlite3_stmt*> statements;

        ~Link();
        sqlite3_stmt* Prepared(const std::string& sql);
        // Notes a statement's outcome for LastTrouble.
        void Note(int rc);
    };

    SqliteStore() = default;
    static sqlite3* Connect(const std::string& path, std::string& error);
    // Reads one row of a statement's result.
    using RowReader = std::function<void(sqlite3_stmt*)>;
    // Runs one statement, giving each row it reads to onRow; the rows it
    // changed, or -1 on failure.
    static int Execute(Link& link, const std::string& sql, const std::vector<std::string>& params,
                       const RowReader& onRow = {});
    int Execute(const std::string& sql, const std::vector<std::string>& params,
                const RowReader& onRow = {});
    // Execute for a caller that holds link's mutex.
    static int ExecuteHeld(Link& link, const std::string& sql,
                           const std::vector<std::string>& params, const RowReader& onRow = {});
    // The pending publications, of one name when name is given.
    std::optional<std::vector<Publication>> Pending(const std::string* name);

    // Commits the writer's transaction when done, else rolls it back keeping
    // the failed step's trouble; whether it committed. The writer's mutex is
    // held.
    bool FinishHeld(bool done);
    // Sets up a database that is new or of an earlier version; a current one
    // is left unwritten, so it can be read while another process writes.
    bool Prepare();

    Link writer_;
    Link reader_;
};

}  // namespace service
