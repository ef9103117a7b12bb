// The service's accounts in an SQLite database: name, password hash, ban flag,
// and the address and time of the last update. Safe to use from several
// threads: each call takes its own turn on a connection. Lookups have a
// connection of their own, so they never wait behind a write that waits for
// another process.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace service {

struct Account {
    std::string name;
    std::string passwordHash;
    bool banned = false;
    std::string lastAddress;       // empty until the first update
    std::int64_t lastUpdate = 0;   // seconds since the epoch, UTC; 0 until then
    std::string publishedAddress;  // last confirmed published in DNS; empty for none
};

class AccountStore {
public:
    // Opens (creating with mode 0600) the database; null with error set on
    // failure. An existing database or journal file with a wider mode is
    // narrowed to 0600, which is told to log when given.
    static std::unique_ptr<AccountStore> Open(const std::string& path, std::string& error,
                                              std::ostream* log = nullptr);
    ~AccountStore();
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    std::optional<Account> Find(const std::string& name);
    // Whether an account exists, told apart from a lookup that failed.
    enum class Presence { Found, Absent, Unknown };
    Presence Look(const std::string& name, Account& out);
    std::vector<Account> List();
    // False when the name is taken.
    bool Add(const std::string& name, const std::string& passwordHash);
    // Each is false when there is no such account.
    bool SetPasswordHash(const std::string& name, const std::string& passwordHash);
    bool SetBanned(const std::string& name, bool banned);
    bool Remove(const std::string& name);

    // DNS publication: what each name whose published state differs from its
    // recorded one should show (an address, or nothing when banned or
    // removed), withdrawals of removed names first; nothing when the
    // database cannot be read.
    struct Publication {
        std::string name;
        std::string address;  // empty: withdraw the name's records
    };
    std::optional<std::vector<Publication>> PendingPublications();
    // Notes that name's records now show address (empty: none).
    bool MarkPublished(const std::string& name, const std::string& address);
    // Changes whenever another connection or process has written the
    // database; -1 when it cannot be read.
    std::int64_t DataVersion();

    enum class Recording { Recorded, AccountChanged, Failed };
    // Records an update for an account whose password was proved against
    // provedHash, in the same step that checks the account still exists, is
    // not banned and still has that hash: a user command run meanwhile (by
    // any process) is never overruled. AccountChanged when it no longer
    // qualifies; Failed when the database refused the write.
    Recording RecordUpdate(const std::string& name, const std::string& provedHash,
                           const std::string& address, std::int64_t when);

    // Why the last statement failed: another process held the database past
    // the wait (Busy), or anything else. None after a success.
    enum class Trouble { None, Busy, Failed };
    Trouble LastTrouble();
    std::string LastError();

    static constexpr int kSchemaVersion = 2;

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

    AccountStore() = default;
    static sqlite3* Connect(const std::string& path, std::string& error);
    // Runs one statement; the rows it changed, or -1 on failure.
    static int Execute(Link& link, const std::string& sql, const std::vector<std::string>& params,
                       std::vector<Account>* rows = nullptr);
    int Execute(const std::string& sql, const std::vector<std::string>& params,
                std::vector<Account>* rows = nullptr);

    // Sets up a database that is new or of an earlier version; a current one
    // is left unwritten, so it can be read while another process writes.
    bool Prepare();

    Link writer_;
    Link reader_;
};

}  // namespace service
