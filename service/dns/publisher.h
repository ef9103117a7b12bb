// Keeps DNS showing each account's recorded address, beside the HTTP path and
// never in its way: a thread of its own brings every name whose published
// state differs from the database up to date, when an update changed an
// address, when any program changed the database (polled every half second),
// and at start, after reading what the zone holds. Of several instances sharing one database,
// whichever claims a name first sends its change, once. When the name server fails on a name, it
// says which and why in the log and tries that name again after 1 s, doubling
// to 60 s, while the other names go on; only the latest state is ever sent.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "service/common/log_line.h"
#include "service/dns/update_message.h"
#include "service/store/account_store.h"

namespace service {

class DnsPublication {
public:
    DnsPublication(AccountStore& store, DnsTarget target, LineSink log);
    // Stops the thread; an update under way may take its 2 s.
    ~DnsPublication();
    DnsPublication(const DnsPublication&) = delete;
    DnsPublication& operator=(const DnsPublication&) = delete;

    // An address changed: look now.
    void Nudge();

private:
    using Clock = std::chrono::steady_clock;
    struct Retry {
        Clock::time_point at;
        std::chrono::seconds delay;
    };

    void Run();
    void ReadTheZone();
    // When to look at the store next: the next poll, or a name's next try.
    Clock::time_point NextLook() const;
    bool RetryDue(Clock::time_point now) const;
    // Sends what is pending. Contended when another instance sharing the
    // database held a name, which is then looked at again at the next poll;
    // Failed when the store could not be read.
    enum class Outcome { Done, Contended, Failed };
    Outcome Reconcile();
    bool Publishable(const std::string& name);
    // Sends the claimed names' updates together and releases them.
    void SendBatch(std::vector<AccountStore::Publication>& batch);
    // Notes a name the server took; why it could not be noted, or empty.
    std::string Published(const AccountStore::Publication& p);
    void TryAgainLater(const std::string& name, const std::string& failure);
    void CannotRead();

    AccountStore& store_;
    DnsTarget target_;
    LineSink log_;
    std::set<std::string> toldUnpublishable_;
    std::map<std::string, Retry> retries_;  // names the name server failed on
    bool zoneRead_ = false;
    Clock::time_point zoneReadAt_;
    std::string zoneFailure_;  // why the zone could not be read, last told
    std::mutex mutex_;
    std::condition_variable wake_;
    bool nudged_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace service
