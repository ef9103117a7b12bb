#include "service/dns/update_message.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "service/dns/dns_wire.h"
#include "service/dns/names.h"

namespace service {

namespace {

using dns_wire::Buffer;
using dns_wire::Packet;
using dns_wire::RrList;

constexpr std::uint32_t kTtl = 60;
constexpr int kAnswerWaitSeconds = 2;

// One update on its way, and once settled, why it failed (empty when the
// name server took it).
struct InFlight {
    Packet update;
    const ldns_rdf* queryMac = nullptr;
    bool settled = false;
    std::string failure;
};

// An ID no other update in flight has, so that each answer finds its update.
void GiveOwnId(ldns_pkt* update, const std::vector<InFlight>& others) {
    while (std::any_of(others.begin(), others.end(), [update](const InFlight& f) {
        return f.update && ldns_pkt_id(f.update.get()) == ldns_pkt_id(update);
    })) {
        ldns_pkt_set_random_id(update);
    }
}

// The delete-an-RRset entry of an update: class ANY, TTL 0, no data.
ldns_rr* DeleteRrset(const std::string& owner, ldns_rr_type type) {
    ldns_rr* rr = ldns_rr_new();
    ldns_rr_set_owner(rr, ldns_dname_new_frm_str(owner.c_str()));
    ldns_rr_set_type(rr, type);
    ldns_rr_set_class(rr, LDNS_RR_CLASS_ANY);
    ldns_rr_set_ttl(rr, 0);
    ldns_rr_set_question(rr, true);
    return rr;
}

// The update message, signed, with an ID no other update in flight has;
// null when an address is not one.
Packet SignedUpdate(const DnsTarget& target, const std::string& owner, const std::string& address,
                    const std::vector<InFlight>& others) {
    RrList updates(ldns_rr_list_new());
    ldns_rr_list_push_rr(updates.get(), DeleteRrset(owner, LDNS_RR_TYPE_A));
    ldns_rr_list_push_rr(updates.get(), DeleteRrset(owner, LDNS_RR_TYPE_AAAA));
    for (std::size_t start = 0; start < address.size();) {
        const std::size_t end = std::min(address.find(',', start), address.size());
        const std::string one = address.substr(start, end - start);
        start = end + 1;
        const bool v6 = one.find(':') != std::string::npos;
        const std::string text =
            owner + " " + std::to_string(kTtl) + " IN " + (v6 ? "AAAA " : "A ") + one;
        ldns_rr* add = nullptr;
        if (ldns_rr_new_frm_str(&add, text.c_str(), 0, nullptr, nullptr) != LDNS_STATUS_OK) {
            return nullptr;
        }
        ldns_rr_list_push_rr(updates.get(), add);
    }
    Packet update(ldns_update_pkt_new(ldns_dname_new_frm_str(target.zone.c_str()), LDNS_RR_CLASS_IN,
                                      nullptr, updates.get(), nullptr));
    ldns_pkt_set_random_id(update.get());
    GiveOwnId(update.get(), others);
    return dns_wire::Sign(update.get(), target) ? std::move(update) : nullptr;
}

// Takes one datagram: the answer of the update in flight whose ID it carries,
// if signed by the server; anything else is not an answer, and is ignored.
void TakeAnswer(const DnsTarget& target, const std::vector<uint8_t>& received, std::size_t size,
                std::vector<InFlight>& flights) {
    ldns_pkt* parsed = nullptr;
    if (ldns_wire2pkt(&parsed, received.data(), size) != LDNS_STATUS_OK) {
        return;
    }
    const Packet answer(parsed);
    for (InFlight& f : flights) {
        if (!f.settled && ldns_pkt_qr(parsed) &&
            ldns_pkt_id(parsed) == ldns_pkt_id(f.update.get()) &&
            dns_wire::SignedByTheServer(parsed, received.data(), size, target, f.queryMac)) {
            f.settled = true;
            if (ldns_pkt_get_rcode(parsed) != LDNS_RCODE_NOERROR) {
                f.failure = "the name server refused it (" + dns_wire::Refusal(parsed) + ")";
            }
            return;
        }
    }
}

// Sends every update on one socket and waits for their answers. The socket is
// connected, so only datagrams from the server's address arrive.
void Exchange(const DnsTarget& target, std::vector<InFlight>& flights) {
    const std::string server = dns_wire::ServerText(target);
    const auto settleRest = [&flights](const std::string& why) {
        for (InFlight& f : flights) {
            if (!f.settled) {
                f.settled = true;
                f.failure = why;
            }
        }
    };
    sockaddr_storage to{};
    socklen_t toLength = 0;
    if (!dns_wire::ServerAddress(target, to, toLength)) {
        return settleRest("the name server's address " + target.host + " is not numeric");
    }
    const dns_wire::OwnedSocket owned(socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    const int fd = owned.fd;
    if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&to), toLength) != 0) {
        return settleRest("cannot send to " + server + ": " + std::strerror(errno));
    }
    for (InFlight& f : flights) {
        Buffer wire(ldns_buffer_new(LDNS_MAX_PACKETLEN));
        if (!f.settled &&
            (ldns_pkt2buffer_wire(wire.get(), f.update.get()) != LDNS_STATUS_OK ||
             send(fd, ldns_buffer_begin(wire.get()), ldns_buffer_position(wire.get()), 0) < 0)) {
            f.settled = true;
            f.failure = "cannot send to " + server + ": " + std::strerror(errno);
        }
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kAnswerWaitSeconds);
    std::vector<uint8_t> received(LDNS_MAX_PACKETLEN);
    while (
        std::any_of(flights.begin(), flights.end(), [](const InFlight& f) { return !f.settled; })) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, int(left.count())) <= 0) {
            return settleRest("no answer from " + server + " within " +
                              std::to_string(kAnswerWaitSeconds) + " s");
        }
        const ssize_t size = recv(fd, received.data(), received.size(), 0);
        if (size < 0) {
            return settleRest("no answer from " + server + ": " + std::strerror(errno) +
                              " (is it listening?)");
        }
        TakeAnswer(target, received, std::size_t(size), flights);
    }
}

}  // namespace

std::vector<std::string> UpdateDnsNames(const DnsTarget& target,
                                        const std::vector<DnsChange>& changes) {
    std::vector<InFlight> flights;
    flights.reserve(changes.size());
    for (const DnsChange& change : changes) {
        const std::string owner = DnsName(change.label, target.zone);
        InFlight f;
        f.update = SignedUpdate(target, owner, change.address, flights);
        if (f.update) {
            f.queryMac = ldns_rr_rdf(ldns_pkt_tsig(f.update.get()), 3);
        } else {
            f.settled = true;
            f.failure = "the update could not be made for " + owner + " " + change.address;
        }
        flights.push_back(std::move(f));
    }
    Exchange(target, flights);
    std::vector<std::string> failures;
    for (const InFlight& f : flights) {
        failures.push_back(f.failure);
    }
    return failures;
}

}  // namespace service
