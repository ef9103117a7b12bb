#include "service/dns/update_message.h"

// Before ldns, which otherwise defines true and false as macros.
#include <stdbool.h>

#include <arpa/inet.h>
#include <ldns/ldns.h>

#include <memory>

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

// The update message, signed; null when address is not one.
Packet SignedUpdate(const DnsTarget& target, const std::string& owner, const std::string& address) {
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
    const std::string keyName = target.key.name + ".";
    const std::string algorithm = target.key.algorithm + ".";
    if (ldns_pkt_tsig_sign(update.get(), keyName.c_str(), target.key.secret.c_str(), kFudgeSeconds,
                           algorithm.c_str(), nullptr) != LDNS_STATUS_OK) {
        return nullptr;
    }
    return update;
}

std::string RcodeWord(ldns_pkt_rcode rcode) {
    char* text = ldns_pkt_rcode2str(rcode);
    std::string word = text != nullptr ? text : "rcode " + std::to_string(rcode);
    free(text);
    return word;
}

// The TSIG error a name server gives with a refusal (RFC 8945), in words.
std::string TsigError(const ldns_pkt* answer) {
    const ldns_rr* tsig = ldns_pkt_tsig(answer);
    if (tsig == nullptr || ldns_rr_rd_count(tsig) < 6) {
        return "";
    }
    switch (ldns_rdf2native_int16(ldns_rr_rdf(tsig, 5))) {
        case 16:
            return " (BADSIG: the key's secret differs)";
        case 17:
            return " (BADKEY: the name server does not know the key)";
        case 18:
            return " (BADTIME: the clocks differ by more than 5 minutes)";
        default:
            return "";
    }
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

}  // namespace

std::string UpdateDnsName(const DnsTarget& target, const std::string& label,
                          const std::string& address) {
    const std::string owner = DnsName(label, target.zone);
    const Packet update = SignedUpdate(target, owner, address);
    sockaddr_storage to{};
    socklen_t toLength = 0;
    if (!update || !ServerAddress(target, to, toLength)) {
        return "the update could not be made for " + owner + " " + address;
    }
    Buffer wire(ldns_buffer_new(LDNS_MAX_PACKETLEN));
    uint8_t* answerWire = nullptr;
    std::size_t answerSize = 0;
    const ldns_status sent = ldns_pkt2buffer_wire(wire.get(), update.get()) == LDNS_STATUS_OK
                                 ? ldns_udp_send(&answerWire, wire.get(), &to, toLength,
                                                 {kAnswerWaitSeconds, 0}, &answerSize)
                                 : LDNS_STATUS_ERR;
    const std::unique_ptr<uint8_t, decltype(&free)> answerBytes(answerWire, free);
    const std::string server = target.host + " port " + std::to_string(target.port);
    if (sent != LDNS_STATUS_OK) {
        return "no answer from " + server + ": time-out after " +
               std::to_string(kAnswerWaitSeconds) + " s, or nothing listening (" +
               ldns_get_errorstr_by_id(sent) + ")";
    }
    ldns_pkt* parsed = nullptr;
    if (ldns_wire2pkt(&parsed, answerWire, answerSize) != LDNS_STATUS_OK) {
        return "an answer from " + server + " that is not a DNS message";
    }
    const Packet answer(parsed);
    if (ldns_pkt_get_rcode(answer.get()) != LDNS_RCODE_NOERROR) {
        return server + " refused the update: " + RcodeWord(ldns_pkt_get_rcode(answer.get())) +
               TsigError(answer.get());
    }
    const ldns_rdf* queryMac = ldns_rr_rdf(ldns_pkt_tsig(update.get()), 3);
    const std::string keyName = target.key.name + ".";
    if (!ldns_pkt_tsig_verify(answer.get(), answerWire, answerSize, keyName.c_str(),
                              target.key.secret.c_str(), queryMac)) {
        return "the answer from " + server + " is not signed with the key";
    }
    return "";
}

}  // namespace service
