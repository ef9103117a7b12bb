#include "service/dns/update_message.h"

// Before ldns, which otherwise defines true and false as macros.
#include <stdbool.h>

#include <arpa/inet.h>
#include <ldns/ldns.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <vector>

#include "service/dns/names.h"

namespace service {

namespace {

constexpr std::uint32_t kTtl = 60;
constexpr std::uint16_t kFudgeSeconds = 300;
constexpr int kAnswerWaitSeconds = 2;

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using Packet = std::unique_ptr<ldns_pkt, Freer<ldns_pkt, ldns_pkt_free>>;
using Buffer = std::unique_ptr<ldns_buffer, Freer<ldns_buffer, ldns_buffer_free>>;
using RrList = std::unique_ptr<ldns_rr_list, Freer<ldns_rr_list, ldns_rr_list_deep_free>>;

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
// null when address is not one.
Packet SignedUpdate(const DnsTarget& target, const std::string& owner, const std::string& address,
                    const std::vector<InFlight>& others) {
    RrList updates(ldns_rr_list_new());
    ldns_rr_list_push_rr(updates.get(), DeleteRrset(owner, LDNS_RR_TYPE_A));
    ldns_rr_list_push_rr(updates.get(), DeleteRrset(owner, LDNS_RR_TYPE_AAAA));
    if (!address.empty()) {
        const bool v6 = address.find(':') != std::string::npos;
        const std::string text =
            owner + " " + std::to_string(kTtl) + " IN " + (v6 ? "AAAA " : "A ") + address;
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
    const std::string keyName = target.key.name + ".";
    const std::string algorithm = target.key.algorithm + ".";
    if (ldns_pkt_tsig_sign(update.get(), keyName.c_str(), target.key.secret.c_str(), kFudgeSeconds,
                           algorithm.c_str(), nullptr) != LDNS_STATUS_OK) {
        return nullptr;
    }
    return update;
}

constexpr std::uint16_t kBadSig = 16;
constexpr std::uint16_t kBadKey = 17;
constexpr std::uint16_t kBadTime = 18;

// The TSIG error field of an answer (RFC 8945); 0 without one.
std::uint16_t TsigError(const ldns_pkt* answer) {
    const ldns_rr* tsig = ldns_pkt_tsig(answer);
    if (tsig == nullptr || ldns_rr_rd_count(tsig) < 6) {
        return 0;
    }
    return ldns_rdf2native_int16(ldns_rr_rdf(tsig, 5));
}

// Why the name server refused, in words that match its answer.
std::string Refusal(const ldns_pkt* answer) {
    switch (ldns_pkt_get_rcode(answer)) {
        case LDNS_RCODE_REFUSED:
            return "REFUSED: its rules do not let this key update this name";
        case LDNS_RCODE_NOTZONE:
            return "NOTZONE: the name is not in the zone";
        case LDNS_RCODE_NOTAUTH:
            switch (TsigError(answer)) {
                case kBadKey:
                    return "NOTAUTH, BADKEY: it does not know the key, or does not let the key "
                           "update this name";
                case kBadSig:
                    return "NOTAUTH, BADSIG: the key's secret differs";
                case kBadTime:
                    return "NOTAUTH, BADTIME: the clocks differ by more than 5 minutes";
                default:
                    return "NOTAUTH: it does not serve the zone";
            }
        default: {
            char* text = ldns_pkt_rcode2str(ldns_pkt_get_rcode(answer));
            std::string word = text != nullptr ? text : "an unknown answer code";
            free(text);
            return word;
        }
    }
}

// A name server answers a signed update signed with the same key, except when
// it could not check the signature (BADSIG, BADKEY): then it cannot sign, and
// says so in an unsigned TSIG record of its own.
bool SignedByTheServer(const ldns_pkt* answer, const uint8_t* wire, std::size_t size,
                       const DnsTarget& target, const ldns_rdf* queryMac) {
    const ldns_rr* tsig = ldns_pkt_tsig(answer);
    if (tsig == nullptr || ldns_rr_rd_count(tsig) < 6) {
        return false;
    }
    const std::uint16_t error = TsigError(answer);
    if ((error == kBadSig || error == kBadKey) && ldns_rdf_size(ldns_rr_rdf(tsig, 3)) <= 2) {
        return true;
    }
    const std::string keyName = target.key.name + ".";
    return ldns_pkt_tsig_verify(const_cast<ldns_pkt*>(answer), wire, size, keyName.c_str(),
                                target.key.secret.c_str(), queryMac);
}

bool ServerAddress(const DnsTarget& target, sockaddr_storage& to, socklen_t& length) {
    to = {};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&to);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&to);
    if (inet_pton(AF_INET, target.host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(static_cast<std::uint16_t>(target.port));
        length = sizeof *v4;
        return true;
    }
    if (inet_pton(AF_INET6, target.host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(target.port));
        length = sizeof *v6;
        return true;
    }
    return false;
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
            SignedByTheServer(parsed, received.data(), size, target, f.queryMac)) {
            f.settled = true;
            if (ldns_pkt_get_rcode(parsed) != LDNS_RCODE_NOERROR) {
                f.failure = "the name server refused it (" + Refusal(parsed) + ")";
            }
            return;
        }
    }
}

// Sends every update on one socket and waits for their answers. The socket is
// connected, so only datagrams from the server's address arrive.
void Exchange(const DnsTarget& target, std::vector<InFlight>& flights) {
    const std::string server = target.host + " port " + std::to_string(target.port);
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
    if (!ServerAddress(target, to, toLength)) {
        return settleRest("the name server's address " + target.host + " is not numeric");
    }
    const int fd = socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const std::unique_ptr<const int, void (*)(const int*)> closer(&fd, [](const int* f) {
        if (*f >= 0) {
            close(*f);
        }
    });
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
