// kestrome-service: the reference update service for Kestrome.
//
//   kestrome-service serve [--listen ADDR:PORT] [--db FILE|URI | --db-file FILE]
//                          [--trust-proxy ADDR]...
//                          [--dns-server ADDR:PORT --dns-zone ZONE --dns-key KEYFILE]
//                          [--dns-reserve LABEL]...
//                          [--tls-cert FILE --tls-key FILE [--tls-listen ADDR:PORT]]
//   kestrome-service [--db ...] [--hash-strength minimum] [--dns-reserve LABEL]...
//                    user add|passwd NAME
//   kestrome-service [--db ...] user ban|unban|remove NAME
//   kestrome-service [--db ...] user list
#include <cstring>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "service/app/admin.h"
#include "service/app/run_service.h"
#include "service/common/address.h"
#include "service/common/log_line.h"
#include "service/common/private_file.h"
#include "service/dns/names.h"
#include "service/dns/update_message.h"
#include "service/store/open_store.h"
#include "service/store/uri_secrets.h"

namespace {

constexpr const char* kUsage =
    "usage: kestrome-service serve [--listen ADDR:PORT] [--db FILE|URI | --db-file FILE]\n"
    "                              [--trust-proxy ADDR]...\n"
    "                              [--dns-server ADDR:PORT --dns-zone ZONE --dns-key KEYFILE]\n"
    "                              [--dns-reserve LABEL]...\n"
    "                              [--tls-cert FILE --tls-key FILE [--tls-listen ADDR:PORT]]\n"
    "       kestrome-service [--db FILE|URI] [--hash-strength interactive|minimum]\n"
    "                        [--dns-reserve LABEL]... user add|passwd NAME\n"
    "       kestrome-service [--db FILE|URI] user ban|unban|remove NAME\n"
    "       kestrome-service [--db FILE|URI] user list\n"
    "       kestrome-service [--db FILE|URI] host add|token|remove LOGIN LABEL\n"
    "       kestrome-service [--db FILE|URI] host list LOGIN\n";

struct Options {
    std::string db = "kestrome-service.db";
    char* dbArgument = nullptr;  // where the command line holds it
    std::string dbFile;
    service::HostPort listen;
    service::HashStrength strength = service::HashStrength::Interactive;
    std::vector<std::string> words;  // the command and its arguments
    std::string dnsServer, dnsZone, dnsKey;
    std::vector<std::string> trustedProxies;
    std::set<std::string> reserved;  // labels of the zone's own, in lower case
    service::TlsOptions tls;
};

// Reads the options wherever they stand; false on a bad one.
bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--db" && hasValue) {
            o.dbArgument = argv[++i];
            o.db = o.dbArgument;
            o.dbFile.clear();
        } else if (arg == "--db-file" && hasValue) {
            o.dbFile = argv[++i];
        } else if (arg == "--listen" && hasValue) {
            if (!service::ParseHostPort(argv[++i], o.listen)) {
                std::cerr << service::ServiceLine("--listen wants ADDR:PORT");
                return false;
            }
        } else if (arg == "--tls-cert" && hasValue) {
            o.tls.certFile = argv[++i];
        } else if (arg == "--tls-key" && hasValue) {
            o.tls.keyFile = argv[++i];
        } else if (arg == "--tls-listen" && hasValue) {
            if (!service::ParseHostPort(argv[++i], o.tls.listen.emplace())) {
                std::cerr << service::ServiceLine("--tls-listen wants ADDR:PORT");
                return false;
            }
        } else if (arg == "--trust-proxy" && hasValue) {
            o.trustedProxies.push_back(service::CanonicalAddress(argv[++i]));
            if (o.trustedProxies.back().empty()) {
                std::cerr << service::ServiceLine("--trust-proxy wants an IP address");
                return false;
            }
        } else if (arg == "--dns-server" && hasValue) {
            o.dnsServer = argv[++i];
        } else if (arg == "--dns-zone" && hasValue) {
            o.dnsZone = argv[++i];
        } else if (arg == "--dns-reserve" && hasValue) {
            o.reserved.insert(service::AsciiLower(argv[++i]));
        } else if (arg == "--dns-key" && hasValue) {
            o.dnsKey = argv[++i];
        } else if (arg == "--hash-strength" && hasValue) {
            const std::string value = argv[++i];
            if (value != "interactive" && value != "minimum") {
                return false;
            }
            o.strength = value == "minimum" ? service::HashStrength::Minimum
                                            : service::HashStrength::Interactive;
        } else if (arg.starts_with("--")) {
            return false;
        } else {
            o.words.push_back(arg);
        }
    }
    return !o.words.empty();
}

// The name server to publish to, when all three options are given; false,
// with a message, when they are given wrongly.
bool DnsOptions(const Options& o, std::optional<service::DnsTarget>& target) {
    const int given = !o.dnsServer.empty() + !o.dnsZone.empty() + !o.dnsKey.empty();
    if (given == 0) {
        return true;
    }
    service::HostPort server;
    service::DnsTarget t;
    std::string error;
    if (given != 3) {
        error = "--dns-server, --dns-zone and --dns-key go together";
    } else if (!service::ParseHostPort(o.dnsServer, server)) {
        error = "--dns-server wants ADDR:PORT";
    } else if ((t.zone = service::ZoneName(o.dnsZone)).empty()) {
        error = "--dns-zone " + o.dnsZone + " is not a domain name";
    } else {
        service::ReadTsigKey(o.dnsKey, t.key, error);
    }
    if (!error.empty()) {
        std::cerr << service::ServiceLine(error);
        return false;
    }
    t.reserved = o.reserved;
    t.host = server.host;
    t.port = server.port;
    target = std::move(t);
    return true;
}

// A password in --db is wiped from the command line at once, so that other
// local users do not see it in ps; the URI may also come from a file only the
// service's user can read.
bool DatabaseOption(Options& o) {
    if (o.dbArgument != nullptr) {
        for (const auto& [offset, length] : service::PasswordSpans(o.dbArgument)) {
            std::memset(o.dbArgument + offset, '*', length);
        }
    }
    std::string error;
    if (!o.dbFile.empty()) {
        const std::optional<std::string> text =
            service::ReadPrivateFile(o.dbFile, "the database URI file", error);
        o.db = text ? text->substr(0, text->find_first_of("\r\n")) : "";
    }
    if (error.empty() && !service::IsDatabaseUri(o.db) && o.db.starts_with("postgres") &&
        o.db.find(':') != std::string::npos) {
        error =
            "--db looks like a database URI but does not start with postgresql:// or "
            "postgres://";
    }
    if (!error.empty()) {
        std::cerr << service::ServiceLine(error);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::cerr << kUsage;
        return 2;
    }
    if (!DatabaseOption(options)) {
        return 2;
    }
    const std::string& command = options.words.front();
    if (command != "serve" && command != "user" && command != "host") {
        std::cerr << kUsage;
        return 2;
    }
    std::optional<service::DnsTarget> dns;
    if (command == "serve" && !DnsOptions(options, dns)) {
        return 2;
    }
    if (options.tls.certFile.empty() != options.tls.keyFile.empty() ||
        (options.tls.listen && options.tls.certFile.empty())) {
        std::cerr << service::ServiceLine(
            "--tls-cert and --tls-key go together, and --tls-listen "
            "wants both");
        return 2;
    }
    if (!service::InitPasswordHashing()) {
        std::cerr << service::ServiceLine("libsodium cannot start");
        return 1;
    }
    std::string error;
    auto store = service::OpenAccountStore(options.db, error, &std::cerr);
    if (!store) {
        std::cerr << service::ServiceLine(error);
        return 1;
    }
    if (command == "serve") {
        return options.words.size() == 1
                   ? service::RunService(*store, options.listen, std::cerr, dns,
                                         options.trustedProxies, options.tls)
                   : 2;
    }
    const std::vector<std::string> args(options.words.begin() + 1, options.words.end());
    if (command == "host") {
        return service::RunHostCommand(args, *store, std::cout, std::cerr, options.reserved);
    }
    return service::RunUserCommand(args, *store, service::ReadPasswordFromStdin, options.strength,
                                   std::cout, std::cerr, options.reserved);
}
