#include "service/dns/dns_wire.h"

#include <arpa/inet.h>

#include <cstdlib>

namespace service::dns_wire {

namespace {

constexpr std::uint16_t kFudgeSeconds = 300;
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

}  // namespace

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

bool Sign(ldns_pkt* message, const DnsTarget& target) {
    const std::string keyName = target.key.name + ".";
    const std::string algorithm = target.key.algorithm + ".";
    return ldns_pkt_tsig_sign(message, keyName.c_str(), target.key.secret.c_str(), kFudgeSeconds,
                              algorithm.c_str(), nullptr) == LDNS_STATUS_OK;
}

std::string ServerText(const DnsTarget& target) {
    return target.host + " port " + std::to_string(target.port);
}

}  // namespace service::dns_wire
