#include "service/dns/zone_transfer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>

#include "service/dns/dns_wire.h"
#include "service/dns/names.h"

namespace service {

namespace {

using Clock = std::chrono::steady_clock;
using dns_wire::Packet;

constexpr auto kTransferWait = std::chrono::seconds(5);
constexpr std::uint32_t kPublishedTtl = 60;
// A zone larger than this is not taken in: its names would not fit in memory
// beside the service's.
constexpr std::size_t kMaxZoneBytes = std::size_t(256) << 20;

bool WaitReady(int fd, short events, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd ready{fd, events, 0};
    return left > 0 && poll(&ready, 1, int(left)) > 0;
}

// Connects without waiting past the deadline; empty on success.
std::string Connect(const DnsTarget& target, dns_wire::OwnedSocket& s, Clock::time_point deadline) {
    sockaddr_storage to{};
    socklen_t length = 0;
    if (!dns_wire::ServerAddress(target, to, length)) {
        return "the name server's address " + target.host + " is not numeric";
    }
    s.fd = socket(to.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s.fd < 0) {
        return std::strerror(errno);
    }
    if (connect(s.fd, reinterpret_cast<const sockaddr*>(&to), length) != 0 &&
        errno != EINPROGRESS) {
        return std::strerror(errno);
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (!WaitReady(s.fd, POLLOUT, deadline)) {
        return "no connection within " + std::to_string(kTransferWait.count()) + " s";
    }
    getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &size);
    return error == 0 ? "" : std::strerror(error);
}

bool Exchange(int fd, std::uint8_t* data, std::size_t size, bool sending,
              Clock::time_point deadline) {
    while (size > 0) {
        if (!WaitReady(fd, sending ? POLLOUT : POLLIN, deadline)) {
            return false;
        }
        const ssize_t n = sending ? send(fd, data, size, MSG_NOSIGNAL) : recv(fd, data, size, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

// DNS over TCP: each message after its length in two bytes.
bool SendMessage(int fd, const ldns_pkt* message, Clock::time_point deadline) {
    uint8_t* wire = nullptr;
    std::size_t size = 0;
    if (ldns_pkt2wire(&wire, message, &size) != LDNS_STATUS_OK) {
        return false;
    }
    std::vector<std::uint8_t> framed = {std::uint8_t(size >> 8), std::uint8_t(size)};
    framed.insert(framed.end(), wire, wire + size);
    free(wire);
    return Exchange(fd, framed.data(), framed.size(), true, deadline);
}

bool ReceiveMessage(int fd, std::vector<std::uint8_t>& wire, Clock::time_point deadline) {
    std::uint8_t length[2];
    if (!Exchange(fd, length, 2, false, deadline)) {
        return false;
    }
    wire.resize(std::size_t(length[0]) << 8 | length[1]);
    return Exchange(fd, wire.data(), wire.size(), false, deadline);
}

bool DnssecOwn(ldns_rr_type type) {
    return type == LDNS_RR_TYPE_RRSIG || type == LDNS_RR_TYPE_NSEC || type == LDNS_RR_TYPE_NSEC3 ||
           type == LDNS_RR_TYPE_NSEC3PARAM || type == LDNS_RR_TYPE_DNSKEY ||
           type == LDNS_RR_TYPE_CDS || type == LDNS_RR_TYPE_CDNSKEY;
}

std::string Text(const ldns_rdf* rdf) {
    char* text = ldns_rdf2str(rdf);
    std::string out = text != nullptr ? text : "";
    free(text);
    return out;
}

// What the transfer has read so far.
struct Zone {
    std::map<std::string, HeldName> names;
    std::map<std::string, std::vector<std::string>> addresses;
    int soaSeen = 0;  // the transfer ends with its second SOA

    void Take(const ldns_rr* rr, const std::string& zone) {
        const ldns_rr_type type = ldns_rr_get_type(rr);
        if (type == LDNS_RR_TYPE_SOA) {
            ++soaSeen;
        }
        const std::string owner = AsciiLower(Text(ldns_rr_owner(rr)));
        const std::string suffix = "." + zone;
        if (DnssecOwn(type) || !owner.ends_with(suffix)) {
            return;
        }
        // Deeper names hold a dot in what is left, and are no account's.
        const std::string label = owner.substr(0, owner.size() - suffix.size());
        if (!PublishableLabel(label)) {
            return;
        }
        HeldName& held = names[label];
        held.label = label;
        const bool address = type == LDNS_RR_TYPE_A || type == LDNS_RR_TYPE_AAAA;
        if (address && ldns_rr_rd_count(rr) == 1) {
            addresses[label].push_back(Text(ldns_rr_rdf(rr, 0)));
        }
        held.asPublished = held.asPublished && address && ldns_rr_ttl(rr) == kPublishedTtl;
    }

    std::vector<HeldName> Held() {
        std::vector<HeldName> held;
        for (auto& [label, name] : names) {
            std::vector<std::string>& list = addresses[label];
            // IPv4 first, as accounts' addresses are joined.
            std::sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
                const bool a6 = a.find(':') != std::string::npos;
                const bool b6 = b.find(':') != std::string::npos;
                return a6 != b6 ? b6 : a < b;
            });
            for (const std::string& a : list) {
                name.addresses += (name.addresses.empty() ? "" : ",") + a;
            }
            held.push_back(name);
        }
        return held;
    }
};

// Checks one message of the transfer and takes its records; empty when it
// is fine. The first must be signed by the holder of the key.
std::string TakeMessage(const std::vector<std::uint8_t>& wire, const ldns_pkt* query,
                        const DnsTarget& target, Zone& zone) {
    ldns_pkt* parsed = nullptr;
    if (ldns_wire2pkt(&parsed, wire.data(), wire.size()) != LDNS_STATUS_OK) {
        return "its answer could not be read";
    }
    const Packet answer(parsed);
    if (!ldns_pkt_qr(parsed) || ldns_pkt_id(parsed) != ldns_pkt_id(query)) {
        return "its answer does not belong to the transfer";
    }
    if (ldns_pkt_get_rcode(parsed) != LDNS_RCODE_NOERROR) {
        return "the name server refused the transfer (" + dns_wire::Refusal(parsed) +
               "; its ACL must let the key transfer the zone)";
    }
    const ldns_rdf* queryMac = ldns_rr_rdf(ldns_pkt_tsig(query), 3);
    if (zone.soaSeen == 0 &&
        !dns_wire::SignedByTheServer(parsed, wire.data(), wire.size(), target, queryMac)) {
        return "its answer is not signed with the key";
    }
    const ldns_rr_list* records = ldns_pkt_answer(parsed);
    for (std::size_t i = 0; i < ldns_rr_list_rr_count(records) && zone.soaSeen < 2; ++i) {
        zone.Take(ldns_rr_list_rr(records, i), target.zone);
    }
    return "";
}

}  // namespace

std::string ReadZone(const DnsTarget& target, std::vector<HeldName>& held) {
    const Clock::time_point deadline = Clock::now() + kTransferWait;
    const std::string server = dns_wire::ServerText(target);
    dns_wire::OwnedSocket s;
    if (const std::string failure = Connect(target, s, deadline); !failure.empty()) {
        return "cannot connect to " + server + ": " + failure;
    }
    const Packet query(ldns_pkt_query_new(ldns_dname_new_frm_str(target.zone.c_str()),
                                          LDNS_RR_TYPE_AXFR, LDNS_RR_CLASS_IN, 0));
    ldns_pkt_set_random_id(query.get());
    if (!dns_wire::Sign(query.get(), target) || !SendMessage(s.fd, query.get(), deadline)) {
        return "cannot ask " + server + " for the zone";
    }
    Zone zone;
    std::vector<std::uint8_t> wire;
    for (std::size_t read = 0; zone.soaSeen < 2; read += wire.size()) {
        if (read > kMaxZoneBytes) {
            return "the zone is larger than " + std::to_string(kMaxZoneBytes >> 20) + " MiB";
        }
        if (!ReceiveMessage(s.fd, wire, deadline)) {
            return "the transfer from " + server + " broke off or did not end within " +
                   std::to_string(kTransferWait.count()) + " s";
        }
        if (const std::string failure = TakeMessage(wire, query.get(), target, zone);
            !failure.empty()) {
            return failure;
        }
    }
    held = zone.Held();
    return "";
}

}  // namespace service
