#include "service/dns/publisher.h"

#include <algorithm>
#include <utility>

#include "service/dns/names.h"
#include "service/dns/zone_transfer.h"

namespace service {

namespace {
constexpr auto kPoll = std::chrono::milliseconds(500);
constexpr std::chrono::seconds kFirstRetry(1);
constexpr std::chrono::seconds kLastRetry(60);
constexpr std::chrono::seconds kZoneRetry(60);
// Updates sent together; each batch holds one socket.
constexpr std::size_t kBatch = 64;
}  // namespace

DnsPublication::DnsPublication(AccountStore& store, DnsTarget target, LineSink log)
    : store_(store), target_(std::move(target)), log_(std::move(log)), thread_([this] { Run(); }) {}

DnsPublication::~DnsPublication() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void DnsPublication::Nudge() {
    {
        std::lock_guard lock(mutex_);
        nudged_ = true;
    }
    wake_.notify_one();
}

void DnsPublication::Run() {
    std::int64_t seen = -1;
    std::chrono::seconds storeRetry = kFirstRetry;
    bool storeFailed = false;  // the store could not be read: wait until storeRetryAt
    Clock::time_point storeRetryAt;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!zoneRead_ && Clock::now() >= zoneReadAt_) {
            lock.unlock();
            ReadTheZone();
            lock.lock();
            seen = -1;
        }
        // While waiting to read the store again, changes wait too.
        wake_.wait_until(lock, storeFailed ? storeRetryAt : NextLook(),
                         [&] { return stopping_ || (nudged_ && !storeFailed); });
        const Clock::time_point now = Clock::now();
        if (stopping_ || (storeFailed && now < storeRetryAt)) {
            continue;
        }
        const std::int64_t version = store_.DataVersion();
        if (!std::exchange(nudged_, false) && version == seen && !storeFailed && !RetryDue(now)) {
            continue;
        }
        lock.unlock();
        const Outcome outcome = Reconcile();
        lock.lock();
        seen = outcome == Outcome::Contended ? -1 : version;
        storeFailed = outcome == Outcome::Failed;
        if (!storeFailed) {
            storeRetry = kFirstRetry;
            continue;
        }
        log_(ServiceLine("DNS publication tries again in " + std::to_string(storeRetry.count()) +
                         " s"));
        storeRetryAt = Clock::now() + storeRetry;
        storeRetry = std::min(storeRetry * 2, kLastRetry);
    }
}

DnsPublication::Clock::time_point DnsPublication::NextLook() const {
    Clock::time_point next = Clock::now() + kPoll;
    for (const auto& [name, retry] : retries_) {
        next = std::min(next, retry.at);
    }
    return next;
}

bool DnsPublication::RetryDue(Clock::time_point now) const {
    return std::any_of(retries_.begin(), retries_.end(),
                       [now](const auto& entry) { return entry.second.at <= now; });
}

// Learns the zone's own names, and what the service left there that the
// store no longer has, before anything is published. Without it only the
// reserved names are kept from accounts; it is tried again every minute.
void DnsPublication::ReadTheZone() {
    std::vector<HeldName> held;
    std::string failure = ReadZone(target_, held);
    if (failure.empty() && !store_.NoteZone(held)) {
        failure = "it cannot be noted in the database: " + store_.LastError();
    }
    zoneRead_ = failure.empty();
    if (!zoneRead_) {
        zoneReadAt_ = Clock::now() + kZoneRetry;
        if (std::exchange(zoneFailure_, failure) != failure) {
            log_(ServiceLine("DNS publication cannot read the zone " + target_.zone + ": " +
                             failure + "; it is tried again every " +
                             std::to_string(kZoneRetry.count()) + " s"));
        }
        return;
    }
    log_(ServiceLine("DNS zone " + target_.zone + " read: " + std::to_string(held.size()) +
                     " names under it"));
    for (const Account& a : store_.List()) {
        if (a.zonesOwn && toldUnpublishable_.insert(a.name).second) {
            log_(ServiceLine("account \"" + LogSafe(a.name) +
                             "\" is not published in DNS: the zone holds the name"));
        }
    }
}

void DnsPublication::CannotRead() {
    log_(ServiceLine("DNS publication cannot read the database: " + store_.LastError()));
}

// A name the name server fails on waits for its own next try, and the others
// go on meanwhile. Claimed names are sent in batches, one round trip each.
DnsPublication::Outcome DnsPublication::Reconcile() {
    const auto pending = store_.PendingPublications();
    if (!pending) {
        CannotRead();
        return Outcome::Failed;
    }
    Outcome outcome = Outcome::Done;
    std::vector<AccountStore::Publication> batch;
    std::set<std::string> stillPending;
    const Clock::time_point now = Clock::now();
    for (const AccountStore::Publication& p : *pending) {
        stillPending.insert(p.name);
        const auto retry = retries_.find(p.name);
        if (retry != retries_.end() && now < retry->second.at) {
            continue;
        }
        // The name's state is read again once claimed: it may have changed, or
        // been published by another instance, since the list was made.
        AccountStore::Publication claimed;
        switch (store_.ClaimPublication(p.name, claimed)) {
            case AccountStore::Claim::Mine:
                break;
            case AccountStore::Claim::NotPending:
                continue;
            case AccountStore::Claim::HeldElsewhere:
                outcome = Outcome::Contended;
                continue;
            case AccountStore::Claim::Failed:
                CannotRead();
                SendBatch(batch);
                return Outcome::Failed;
        }
        if (!Publishable(claimed.name)) {
            store_.ReleasePublication(claimed.name);
            continue;
        }
        batch.push_back(std::move(claimed));
        if (batch.size() == kBatch) {
            SendBatch(batch);
        }
    }
    SendBatch(batch);
    std::erase_if(retries_, [&](const auto& entry) { return !stillPending.contains(entry.first); });
    return outcome;
}

// A login that is not a DNS label, or that is one of the zone's own names,
// is never published, and told once.
bool DnsPublication::Publishable(const std::string& name) {
    const bool label = PublishableLabel(name);
    if (label && !ReservedLabel(name, target_.reserved)) {
        return true;
    }
    if (toldUnpublishable_.insert(name).second) {
        log_(ServiceLine("account \"" + LogSafe(name) + "\" is not published in DNS: " +
                         (label                    ? "the name is one of the zone's own"
                          : IdnaLabelDecodes(name) ? "not a name of letters, digits and hyphens"
                                                   : "an xn-- name that does not decode to a "
                                                     "valid internationalized name")));
    }
    return false;
}

void DnsPublication::SendBatch(std::vector<AccountStore::Publication>& batch) {
    if (batch.empty()) {
        return;
    }
    std::vector<DnsChange> changes;
    for (const AccountStore::Publication& p : batch) {
        changes.push_back({p.name, p.address});
    }
    const std::vector<std::string> failures = UpdateDnsNames(target_, changes);
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const AccountStore::Publication& p = batch[i];
        const std::string name = DnsName(p.name, target_.zone);
        const std::string failure = failures[i].empty()
                                        ? Published(p)
                                        : "DNS update of " + name + " failed: " + failures[i];
        store_.ReleasePublication(p.name);
        if (failure.empty()) {
            retries_.erase(p.name);
        } else {
            if (!failures[i].empty()) {
                store_.NoteFailure(p.name, failures[i]);
            }
            TryAgainLater(p.name, failure);
        }
    }
    batch.clear();
}

std::string DnsPublication::Published(const AccountStore::Publication& p) {
    const std::string name = DnsName(p.name, target_.zone);
    log_(ServiceLine("DNS " + name + " " + (p.address.empty() ? "withdrawn" : LogSafe(p.address))));
    if (!store_.MarkPublished(p.name, p.address)) {
        return "DNS publication cannot note " + name + " in the database: " + store_.LastError();
    }
    return "";
}

void DnsPublication::TryAgainLater(const std::string& name, const std::string& failure) {
    const auto known = retries_.find(name);
    const std::chrono::seconds delay =
        known == retries_.end() ? kFirstRetry : std::min(known->second.delay * 2, kLastRetry);
    retries_[name] = {Clock::now() + delay, delay};
    log_(ServiceLine(failure + "; tried again in " + std::to_string(delay.count()) + " s"));
}

}  // namespace service
