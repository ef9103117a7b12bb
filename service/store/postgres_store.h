// The accounts in a PostgreSQL database that several service instances share.
// Each call borrows one of a few pooled connections; DNS publication has a
// connection of its own, which holds its claims on names. A connection that
// breaks is opened again at its next use, at most once a second while the
// database stays away, so a database that returns is used again without a
// restart.
#pragma once

#include <memory>
#include <mutex>

#include "service/store/account_store.h"
#include "service/store/postgres_link.h"

namespace service {

class PostgresStore final : public AccountStore {
public:
    static std::unique_ptr<AccountStore> Open(const std::string& uri, std::string& error);

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
    int ConcurrentWrites() const override { return kWriters; }
    std::optional<std::vector<Publication>> PendingPublications() override;
    Claim ClaimPublication(const std::string& name, Publication& now) override;
    void ReleasePublication(const std::string& name) override;
    bool MarkPublished(const std::string& name, const std::string& address) override;
    bool NoteFailure(const std::string& name, const std::string& reason) override;
    bool NoteZone(const std::vector<HeldName>& held) override;
    std::int64_t DataVersion() override;
    Trouble LastTrouble() override { return db_.LastTrouble(); }
    std::string LastError() override { return db_.LastError(); }
    void SetNotice(LineSink notice) override { db_.SetNotice(std::move(notice)); }

private:
    static constexpr int kWriters = 2;
    // The lookups' thread, the writers and one for commands or the odd
    // overlap.
    static constexpr std::size_t kPooled = kWriters + 2;

    explicit PostgresStore(std::string uri) : db_(std::move(uri), kPooled) {}
    // The rows a pooled statement changed, or -1.
    int Change(const postgres::Statement& st, const std::vector<std::string>& params);
    std::vector<Account> Accounts(const postgres::Statement& st,
                                  const std::vector<std::string>& params, bool& ok);
    std::optional<std::vector<Publication>> Pending(const postgres::Statement& st,
                                                    const std::vector<std::string>& params);
    // Commits link's transaction when done, else rolls it back keeping the
    // failed step's trouble; whether it committed.
    bool Finish(postgres::Link& link, bool done);
    // Runs an add, which a name taken meanwhile (by another instance) fails
    // without trouble.
    bool Insert(const postgres::Statement& st, const std::vector<std::string>& params);
    // Creates or migrates the schema, once among instances starting at once
    // (postgres_schema.cpp).
    bool Prepare(postgres::Link& link);

    postgres::Connections db_;
    std::mutex publisherMutex_;
    postgres::Link publisher_;
};

}  // namespace service
