// The service's accounts: name, password hash, ban flag, the address and time
// of the last update, and what DNS was last confirmed to show. Two stores keep
// them: an embedded SQLite file (the default) and a PostgreSQL database that
// several service instances share (open_store.h chooses). Both are safe to
// use from several threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "service/common/log_line.h"

namespace service {

// What is recorded of one host's addresses, and what DNS was last confirmed
// to show of them.
struct HostAddresses {
    std::string lastAddress;   // IPv4; empty until an update gives one
    std::string lastAddress6;  // IPv6; empty until an update gives one
    // When each was last set (seconds since the epoch, UTC; 0: never or not
    // known), and the address the request that set it came from.
    std::int64_t v4At = 0;
    std::string v4From;
    std::int64_t v6At = 0;
    std::string v6From;
    std::string publishedAddress;  // as Addresses gives them; empty for none
    // Why the name server refused the last try to publish it; empty once it
    // took one.
    std::string publishFailure;

    // Both addresses as DNS is to hold them: the IPv4 one, then the IPv6 one,
    // joined by a comma; empty for none.
    std::string Addresses() const;
};

// A host of an account beside its login's own, with its own update token.
struct Host : HostAddresses {
    std::string label;      // one DNS label, in lower case
    std::string tokenHash;  // empty: none
};

struct Account : HostAddresses {
    std::string name;
    std::string passwordHash;
    bool banned = false;
    std::int64_t lastUpdate = 0;  // of any family; 0 until the first
    // The older account whose DNS name this one's is too, regardless of case
    // (such names are refused now); empty when none. This one is never
    // published.
    std::string olderTwin;
    // The zone held this name when publication started: it is the zone's
    // own, and never published.
    bool zonesOwn = false;
    // The digest of the update token of the account's own host (empty: none),
    // and the database's key it was made with.
    std::string tokenHash;
    std::string tokenKey;
    // Its other hosts, by label; read by ReadHosts only.
    std::vector<Host> hosts;

    // The other host labelled label (in lower case); null when none.
    const Host* FindHost(const std::string& label) const;
};

// What an update sets: each family's address (empty: none); a family it does
// not give keeps what it has.
struct AddressUpdate {
    std::optional<std::string> v4;
    std::optional<std::string> v6;

    // Sets the family of address (a canonical address) only.
    static AddressUpdate Of(const std::string& address);
    // Both families without an address.
    static AddressUpdate None() { return {std::string(), std::string()}; }
    // Whether it gives host an address it does not have.
    bool Changes(const HostAddresses& host) const;
};

// What one request sets on one host: the login's own (label empty) or
// another of the account's.
struct HostUpdate {
    std::string label;
    AddressUpdate addresses;
};

// A browser signed in to the account page: whose, the token its forms carry,
// and when it signed in.
struct WebSession {
    std::string login;
    std::string formToken;
    std::int64_t created = 0;
};

// A name directly under the zone that its name server holds: its address
// records, and whether all of its records are of the kind the service writes
// (A or AAAA, TTL 60).
struct HeldName {
    std::string label;      // in lower case
    std::string addresses;  // its A, then its AAAA addresses, each sorted, joined by commas
    bool asPublished = true;
};

class AccountStore {
public:
    virtual ~AccountStore() = default;

    std::optional<Account> Find(const std::string& name);
    // Whether an account exists, told apart from a lookup that failed.
    enum class Presence { Found, Absent, Unknown };
    virtual Presence Look(const std::string& name, Account& out) = 0;
    virtual std::vector<Account> List() = 0;
    // False when the name is taken, also in another case: DNS names ignore
    // case, so two such accounts would share one.
    virtual bool Add(const std::string& name, const std::string& passwordHash) = 0;
    // Each is false when there is no such account.
    virtual bool SetPasswordHash(const std::string& name, const std::string& passwordHash) = 0;
    virtual bool SetBanned(const std::string& name, bool banned) = 0;
    virtual bool SetTokenHash(const std::string& name, const std::string& tokenHash) = 0;
    virtual bool Remove(const std::string& name) = 0;

    // The account's other hosts into account.hosts; false when they cannot
    // be read.
    virtual bool ReadHosts(Account& account) = 0;
    // Adds host label (lower case) to login with its token's digest; false
    // when there is no such login or the name is taken (by a host or an
    // account in any case, or by the zone).
    virtual bool AddHost(const std::string& login, const std::string& label,
                         const std::string& tokenHash) = 0;
    // Each is false when login has no such host.
    virtual bool SetHostToken(const std::string& login, const std::string& label,
                              const std::string& tokenHash) = 0;
    virtual bool RemoveHost(const std::string& login, const std::string& label) = 0;

    // Account page sessions, each known by the digest of its id only, so that
    // every instance on one database knows them all. A session ends when
    // unused for kSessionIdleSeconds, kSessionLifeSeconds after it began, or
    // when its account is removed or banned; AddSession clears those ended.
    static constexpr std::int64_t kSessionIdleSeconds = 30 * 60;
    static constexpr std::int64_t kSessionLifeSeconds = 12 * 60 * 60;
    virtual bool AddSession(const std::string& idHash, const WebSession& session,
                            std::int64_t now) = 0;
    // The session when it has not ended; it is then noted as used now.
    virtual Presence FindSession(const std::string& idHash, std::int64_t now, WebSession& out) = 0;
    virtual bool RemoveSession(const std::string& idHash) = 0;
    // Every session of login but keepHash's (empty: every one).
    virtual bool RemoveSessions(const std::string& login, const std::string& keepHash) = 0;

    enum class Recording { Recorded, AccountChanged, Failed };
    // Records an update for an account whose password was proved against
    // provedHash, in the same step that checks the account still exists, is
    // not banned and still has that hash: a user command run meanwhile (by
    // any process) is never overruled. Recorded only once committed;
    // AccountChanged when it no longer qualifies; Failed when the database
    // refused the write or could not be reached.
    // from is the address the update came from. A host update (label not
    // empty) sets that host of the account's instead of its own.
    virtual Recording RecordUpdate(const std::string& name, const std::string& provedHash,
                                   const HostUpdate& update, const std::string& from,
                                   std::int64_t when) = 0;
    // How many writes are worth running at once.
    virtual int ConcurrentWrites() const = 0;

    // DNS publication: what each name whose published state differs from its
    // recorded one should show (an address, or nothing when banned or
    // removed), withdrawals of removed names first; nothing when the
    // database cannot be read.
    struct Publication {
        std::string name;
        std::string address;  // as Addresses gives them; empty: withdraw the name's records
    };
    virtual std::optional<std::vector<Publication>> PendingPublications() = 0;
    // Takes the right to publish name, so that of several processes sharing
    // the store only one sends a given change: Mine, with what name should
    // now show, when it is still pending and this process holds the right
    // until ReleasePublication.
    enum class Claim { Mine, NotPending, HeldElsewhere, Failed };
    virtual Claim ClaimPublication(const std::string& name, Publication& now) = 0;
    virtual void ReleasePublication(const std::string& name) = 0;
    // Notes that name's records now show address (empty: none).
    virtual bool MarkPublished(const std::string& name, const std::string& address) = 0;
    // Notes why the name server refused name's last update.
    virtual bool NoteFailure(const std::string& name, const std::string& reason) = 0;
    // Notes what the zone holds, read when publication starts: names the
    // store does not know it may have published and that do not look as
    // published are the zone's own, refused by Add and never published; names
    // of the service's whose account is gone are to be withdrawn; accounts
    // whose records differ from what the store says are to be sent again.
    virtual bool NoteZone(const std::vector<HeldName>& held) = 0;
    // Changes whenever another connection or process may have written the
    // store; -1 when it cannot be read.
    virtual std::int64_t DataVersion() = 0;

    // Why the last statement failed: the database was held by another
    // writer past the wait (Busy), or anything else. None after a success.
    enum class Trouble { None, Busy, Failed };
    virtual Trouble LastTrouble() = 0;
    virtual std::string LastError() = 0;

    // Where a store on a database server tells that it lost the server and
    // that it has it again, one line each time; a file has nothing to tell.
    virtual void SetNotice(LineSink) {}

    static constexpr int kSchemaVersion = 6;

protected:
    AccountStore() = default;
    // The parameters of the record statement, in the order it takes them.
    static std::vector<std::string> RecordParameters(const std::string& name,
                                                     const std::string& provedHash,
                                                     const HostUpdate& update,
                                                     const std::string& from, std::int64_t when);
    // The parameters of the statements that find a session and clear the
    // ended ones: the oldest last use and the oldest start a session may have.
    static std::vector<std::string> SessionBounds(std::int64_t now);
    // What a lookup that read rows (read is false when it failed) tells.
    static Presence PresenceOf(bool read, std::vector<Account>& rows, Account& out);
    // What an update that changed rows (-1: failed) tells.
    static Recording RecordingOf(int changed);
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;
};

}  // namespace service
