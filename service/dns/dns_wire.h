// What the update and the zone transfer share: ldns objects that free
// themselves, the name server's socket address, and reading its answers.
#pragma once

// Before ldns, which otherwise defines true and false as macros.
#include <stdbool.h>

#include <ldns/ldns.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "service/dns/update_message.h"

namespace service::dns_wire {

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using Packet = std::unique_ptr<ldns_pkt, Freer<ldns_pkt, ldns_pkt_free>>;
using Buffer = std::unique_ptr<ldns_buffer, Freer<ldns_buffer, ldns_buffer_free>>;
using RrList = std::unique_ptr<ldns_rr_list, Freer<ldns_rr_list, ldns_rr_list_deep_free>>;

// A socket that closes itself.
struct OwnedSocket {
    int fd = -1;
    OwnedSocket() = default;
    explicit OwnedSocket(int f) : fd(f) {}
    ~OwnedSocket() {
        if (fd >= 0) {
            close(fd);
        }
    }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;
};

// Signs message with the target's key; false when it cannot be.
bool Sign(ldns_pkt* message, const DnsTarget& target);

// Why the name server refused, in words that match its answer.
std::string Refusal(const ldns_pkt* answer);

// Whether answer (whose wire form is wire) comes from the holder of the key:
// signed with it, or the unsigned BADSIG or BADKEY refusal a name server
// gives when it cannot check the key.
bool SignedByTheServer(const ldns_pkt* answer, const uint8_t* wire, std::size_t size,
                       const DnsTarget& target, const ldns_rdf* queryMac);

// The name server's socket address; false when its host is not numeric.
bool ServerAddress(const DnsTarget& target, sockaddr_storage& to, socklen_t& length);

// "HOST port PORT", for the log.
std::string ServerText(const DnsTarget& target);

}  // namespace service::dns_wire
