#include "service/app/admin.h"

#include <termios.h>
#include <unistd.h>

#include <iomanip>
#include <iostream>

#include "service/app/dyndns.h"
#include "service/app/host_labels.h"
#include "service/app/update_decision.h"
#include "service/auth/update_token.h"
#include "service/common/log_line.h"
#include "service/common/utc_time.h"
#include "service/dns/names.h"

namespace service {

namespace {

constexpr int kOk = 0;
constexpr int kRefused = 1;
constexpr int kUsage = 2;

std::string FormatTime(std::int64_t when) {
    return when == 0 ? "-" : FormatUtc(when, "%Y-%m-%d %H:%M:%S UTC");
}

std::optional<std::string> NewPasswordHash(const PasswordReader& readPassword,
                                           HashStrength strength, std::ostream& err) {
    std::optional<std::string> password = readPassword();
    if (!password || password->empty()) {
        err << ServiceLine("no password given") << std::flush;
        return std::nullopt;
    }
    if (password->size() > kMaxParameterBytes) {
        err << ServiceLine("the password is longer than " + std::to_string(kMaxParameterBytes) +
                           " bytes")
            << std::flush;
        return std::nullopt;
    }
    std::optional<std::string> hash = HashPassword(*password, strength);
    if (!hash) {
        err << ServiceLine("the password could not be hashed") << std::flush;
    }
    return hash;
}

std::string Dash(const std::string& text) {
    return text.empty() ? "-" : text;
}

// What DNS holds of an account's name, or why it never will.
std::string Published(const Account& a) {
    return a.zonesOwn            ? "never: the zone holds the name"
           : a.olderTwin.empty() ? Dash(a.publishedAddress)
                                 : "never: \"" + a.olderTwin + "\" has the DNS name";
}

int ListUsers(AccountStore& store, std::ostream& out) {
    out << std::left << std::setw(20) << "NAME" << std::setw(8) << "BANNED" << std::setw(56)
        << "LAST ADDRESS" << std::setw(25) << "LAST UPDATE"
        << "PUBLISHED IN DNS" << std::endl;
    for (const Account& a : store.List()) {
        out << std::setw(20) << a.name << std::setw(8) << (a.banned ? "yes" : "no") << std::setw(56)
            << Dash(a.Addresses()) << std::setw(25) << FormatTime(a.lastUpdate) << Published(a)
            << std::endl;
    }
    return kOk;
}

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > kMaxParameterBytes) {
        return false;
    }
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

// Why name may not be added; empty when it may.
std::string NameTaken(const std::string& name, AccountStore& store,
                      const std::set<std::string>& reserved) {
    if (ReservedLabel(name, reserved)) {
        return "\"" + name + "\" is one of the zone's own names (see --dns-reserve)";
    }
    for (const Account& a : store.List()) {
        if (AsciiLower(a.name) == AsciiLower(name)) {
            return a.name == name
                       ? "user \"" + name + "\" already exists"
                       : "user \"" + a.name + "\" exists; names must differ in more than " +
                             "case, as DNS names do";
        }
    }
    return "";
}

}  // namespace

int RunUserCommand(const std::vector<std::string>& args, AccountStore& store,
                   const PasswordReader& readPassword, HashStrength strength, std::ostream& out,
                   std::ostream& err, const std::set<std::string>& reserved) {
    if (args.size() == 1 && args[0] == "list") {
        return ListUsers(store, out);
    }
    if (args.size() != 2) {
        err << "usage: kestrome-service user add|passwd|ban|unban|remove NAME, or user list"
            << std::endl;
        return kUsage;
    }
    const std::string& command = args[0];
    const std::string& name = args[1];
    // A change the store did not make: no such user, or a database that
    // could not take it.
    auto notChanged = [&err, &name, &store] {
        switch (store.LastTrouble()) {
            case AccountStore::Trouble::Busy:
                err << ServiceLine("database is busy, try again") << std::flush;
                break;
            case AccountStore::Trouble::Failed:
                err << ServiceLine("the database refused the change: " + store.LastError())
                    << std::flush;
                break;
            case AccountStore::Trouble::None:
                err << ServiceLine("no user named \"" + name + "\"") << std::flush;
                break;
        }
        return kRefused;
    };
    if (command == "add") {
        if (!ValidName(name)) {
            err << ServiceLine("a name is 1 to " + std::to_string(kMaxParameterBytes) +
                               " bytes without control characters")
                << std::flush;
            return kUsage;
        }
        if (const std::string taken = NameTaken(name, store, reserved); !taken.empty()) {
            err << ServiceLine(taken) << std::flush;
            return kRefused;
        }
        auto hash = NewPasswordHash(readPassword, strength, err);
        if (!hash) {
            return kRefused;
        }
        if (!store.Add(name, *hash)) {
            if (store.LastTrouble() != AccountStore::Trouble::None) {
                return notChanged();
            }
            // Taken meanwhile, a host's, or held by the zone.
            const std::string taken = NameTaken(name, store, reserved);
            err << ServiceLine(taken.empty()
                                   ? "\"" + name +
                                         "\" is a name the zone already holds, or a host's"
                                   : taken)
                << std::flush;
            return kRefused;
        }
        out << "user \"" << name << "\" added" << std::endl;
        return kOk;
    }
    if (command == "passwd") {
        if (!store.Find(name)) {
            return notChanged();
        }
        auto hash = NewPasswordHash(readPassword, strength, err);
        if (!hash) {
            return kRefused;
        }
        if (!store.SetPasswordHash(name, *hash)) {
            return notChanged();
        }
        out << "password of \"" << name << "\" changed" << std::endl;
        return kOk;
    }
    if (command == "ban" || command == "unban") {
        if (!store.SetBanned(name, command == "ban")) {
            return notChanged();
        }
        out << "user \"" << name << "\" " << (command == "ban" ? "banned" : "unbanned")
            << std::endl;
        return kOk;
    }
    if (command == "remove") {
        if (!store.Remove(name)) {
            return notChanged();
        }
        out << "user \"" << name << "\" removed" << std::endl;
        return kOk;
    }
    err << ServiceLine("unknown user command \"" + command + "\"") << std::flush;
    return kUsage;
}

namespace {

// When and from where a family's address was set.
std::string SetWhen(const std::string& address, std::int64_t at, const std::string& from) {
    if (address.empty()) {
        return "-";
    }
    return FormatTime(at) + (from.empty() ? "" : " from " + from);
}

void ListHost(const std::string& label, const HostAddresses& h, bool token,
              const std::string& published, std::ostream& out) {
    out << std::setw(20) << label << std::setw(16) << Dash(h.lastAddress) << std::setw(48)
        << SetWhen(h.lastAddress, h.v4At, h.v4From) << std::setw(40) << Dash(h.lastAddress6)
        << std::setw(48) << SetWhen(h.lastAddress6, h.v6At, h.v6From) << std::setw(8)
        << (token ? "set" : "none") << published << std::endl;
}

// The account's own host is its login in lower case; its other hosts follow.
int ListHosts(const Account& a, std::ostream& out) {
    out << std::left << std::setw(20) << "HOST" << std::setw(16) << "IPV4" << std::setw(48)
        << "IPV4 SET" << std::setw(40) << "IPV6" << std::setw(48) << "IPV6 SET" << std::setw(8)
        << "TOKEN"
        << "PUBLISHED IN DNS" << std::endl;
    ListHost(AsciiLower(a.name), a, !a.tokenHash.empty(), Published(a), out);
    for (const Host& h : a.hosts) {
        ListHost(h.label, h, !h.tokenHash.empty(), Dash(h.publishedAddress), out);
    }
    return kOk;
}

int Refuse(std::ostream& err, const std::string& why) {
    err << ServiceLine(why) << std::flush;
    return kRefused;
}

// Why label may not be a new host; empty when it may.
std::string NewHostRefusal(const std::string& label, AccountStore& store,
                           const std::set<std::string>& reserved) {
    const std::string refusal = HostLabelRefusal(label, reserved);
    return refusal.empty() ? NameTaken(label, store, reserved) : refusal;
}

// Makes a new token for login's host label (the login's own or another)
// and prints it.
int NewToken(const Account& account, const std::string& label, AccountStore& store,
             std::ostream& out, std::ostream& err, const std::set<std::string>& reserved) {
    const std::string token = NewUpdateToken();
    const std::string digest = TokenDigest(token, account.tokenKey);
    const bool own = IsOwnHost(account, label, HostNaming{"", reserved});
    if (!own && account.FindHost(AsciiLower(label)) == nullptr) {
        return Refuse(err, "\"" + label + "\" is not a host of \"" + account.name + "\"");
    }
    if (digest.empty() || !(own ? store.SetTokenHash(account.name, digest)
                                : store.SetHostToken(account.name, label, digest))) {
        return Refuse(err, "the token could not be stored: " + store.LastError());
    }
    out << token << std::endl;
    return kOk;
}

int AddHost(const Account& account, const std::string& label, AccountStore& store,
            std::ostream& out, std::ostream& err, const std::set<std::string>& reserved) {
    if (const std::string taken = NewHostRefusal(label, store, reserved); !taken.empty()) {
        return Refuse(err, taken);
    }
    const std::string token = NewUpdateToken();
    const std::string digest = TokenDigest(token, account.tokenKey);
    if (digest.empty() || !store.AddHost(account.name, label, digest)) {
        return Refuse(err, store.LastTrouble() != AccountStore::Trouble::None
                               ? "the database refused the change: " + store.LastError()
                               : HostLabelTaken(label));
    }
    out << token << std::endl;
    return kOk;
}

int RemoveHost(const Account& account, const std::string& label, AccountStore& store,
               std::ostream& out, std::ostream& err) {
    if (AsciiLower(label) == AsciiLower(account.name)) {
        return Refuse(err, "\"" + label + "\" is the login's own host; user remove removes it");
    }
    if (!store.RemoveHost(account.name, label)) {
        return Refuse(err, store.LastTrouble() != AccountStore::Trouble::None
                               ? "the database refused the change: " + store.LastError()
                               : "\"" + label + "\" is not a host of \"" + account.name + "\"");
    }
    out << "host \"" << AsciiLower(label) << "\" removed" << std::endl;
    return kOk;
}

}  // namespace

int RunHostCommand(const std::vector<std::string>& args, AccountStore& store, std::ostream& out,
                   std::ostream& err, const std::set<std::string>& reserved) {
    const bool list = args.size() == 2 && args[0] == "list";
    const bool withLabel =
        args.size() == 3 && (args[0] == "add" || args[0] == "token" || args[0] == "remove");
    if (!list && !withLabel) {
        err << "usage: kestrome-service host add|token|remove LOGIN LABEL, or host list LOGIN"
            << std::endl;
        return kUsage;
    }
    const std::string& login = args[1];
    Account account;
    switch (store.Look(login, account)) {
        case AccountStore::Presence::Found:
            break;
        case AccountStore::Presence::Absent:
            return Refuse(err, "no user named \"" + login + "\"");
        case AccountStore::Presence::Unknown:
            return Refuse(err, "the database cannot be read: " + store.LastError());
    }
    if (!store.ReadHosts(account)) {
        return Refuse(err, "the database cannot be read: " + store.LastError());
    }
    if (list) {
        return ListHosts(account, out);
    }
    const std::string& label = args[2];
    if (args[0] == "add") {
        return AddHost(account, label, store, out, err, reserved);
    }
    if (args[0] == "remove") {
        return RemoveHost(account, label, store, out, err);
    }
    return NewToken(account, label, store, out, err, reserved);
}

std::optional<std::string> ReadPasswordFromStdin() {
    const bool terminal = isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (terminal) {
        std::cerr << "Password: " << std::flush;
        tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::cerr << std::endl;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return got ? std::optional<std::string>(line) : std::nullopt;
}

}  // namespace service
