#include "service/dns/publisher.h"

#include <algorithm>
#include <utility>

#include "service/dns/names.h"

namespace service {

namespace {
constexpr auto kPoll = std::chrono::milliseconds(500);
constexpr auto kFirstRetry = std::chrono::seconds(1);
constexpr auto kLastRetry = std::chrono::seconds(60);
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
    using Clock = std::chrono::steady_clock;
    std::int64_t seen = -1;
    std::chrono::seconds retry = kFirstRetry;
    bool backingOff = false;
    Clock::time_point retryAt;
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        // While waiting to try the name server again, changes wait too.
        wake_.wait_until(lock, backingOff ? retryAt : Clock::now() + kPoll,
                         [&] { return stopping_ || (nudged_ && !backingOff); });
        if (stopping_ || (backingOff && Clock::now() < retryAt)) {
            continue;
        }
        const std::int64_t version = store_.DataVersion();
        if (!std::exchange(nudged_, false) && version == seen && !backingOff) {
            continue;
        }
        lock.unlock();
        const Outcome outcome = Reconcile();
        lock.lock();
        seen = outcome == Outcome::Contended ? -1 : version;
        backingOff = outcome == Outcome::Failed;
        if (!backingOff) {
            retry = kFirstRetry;
            continue;
        }
        log_(ServiceLine("DNS publication tries again in " + std::to_string(retry.count()) + " s"));
        retryAt = Clock::now() + retry;
        retry = std::min(retry * 2, std::chrono::seconds(kLastRetry));
    }
}

void DnsPublication::CannotRead() {
    log_(ServiceLine("DNS publication cannot read the database: " + store_.LastError()));
}

DnsPublication::Outcome DnsPublication::Reconcile() {
    const auto pending = store_.PendingPublications();
    if (!pending) {
        CannotRead();
        return Outcome::Failed;
    }
    Outcome outcome = Outcome::Done;
    for (const AccountStore::Publication& p : *pending) {
        const Outcome one = Publish(p.name);
        if (one == Outcome::Failed) {
            return one;
        }
        outcome = std::max(outcome, one);
    }
    return outcome;
}

// The name's state is read again once claimed: it may have changed, or been
// published by another instance, since the list was made.
DnsPublication::Outcome DnsPublication::Publish(const std::string& name) {
    AccountStore::Publication now;
    switch (store_.ClaimPublication(name, now)) {
        case AccountStore::Claim::Mine:
            break;
        case AccountStore::Claim::NotPending:
            return Outcome::Done;
        case AccountStore::Claim::HeldElsewhere:
            return Outcome::Contended;
        case AccountStore::Claim::Failed:
            CannotRead();
            return Outcome::Failed;
    }
    const bool sent = Send(now);
    store_.ReleasePublication(name);
    return sent ? Outcome::Done : Outcome::Failed;
}

// A login that is not a DNS label is never published, and told once.
bool DnsPublication::Send(const AccountStore::Publication& p) {
    if (!PublishableLabel(p.name)) {
        if (toldUnpublishable_.insert(p.name).second) {
            log_(ServiceLine(
                "account \"" + p.name +
                "\" is not published in DNS: not a name of letters, digits and hyphens"));
        }
        return true;
    }
    const std::string name = DnsName(p.name, target_.zone);
    const std::string failure = UpdateDnsName(target_, p.name, p.address);
    if (!failure.empty()) {
        log_(ServiceLine("DNS update of " + name + " failed: " + failure));
        return false;
    }
    log_(ServiceLine("DNS " + name + " " + (p.address.empty() ? "withdrawn" : p.address)));
    if (!store_.MarkPublished(p.name, p.address)) {
        log_(ServiceLine("DNS publication cannot note " + name +
                         " in the database: " + store_.LastError()));
        return false;
    }
    return true;
}

}  // namespace service
