// Load on the update service, measured from outside as its clients see it.
//
//   bench_service accounts DB N
//       creates accounts user0..user(N-1), passwords pw0.., at the default
//       (Interactive) hash strength, as `user add` would
//   bench_service throughput PORT SECONDS N [changing]
//       64 keep-alive clients with correct passwords over the N accounts, after
//       one warm-up request per account; prints "updates/s p99-ms failures";
//       with "changing", each client sends from an address of its own and
//       moves through the accounts so that every update changes an address
//   bench_service pages PORT SECONDS N
//       as throughput, while one signed-in browser (user0) loads the account
//       page's overview again and again; prints
//       "updates/s pages/s pages-p99-ms failures"
//   bench_service tokens DB N FILE
//       gives each of user0..user(N-1) a new update token for its own host
//       and writes them to FILE, one per line, in that order
//   bench_service tokenput PORT SECONDS FILE
//       64 keep-alive clients, client C updating host userC with the token on
//       line C of FILE by /nic/update, no warm-up; prints as throughput does
//   bench_service dnslatency PORT DNS-PORT ZONE N
//       N updates of user0 from a new address each; for each, the time until
//       the name server on 127.0.0.1:DNS-PORT answers user0.ZONE with it;
//       prints "median-ms worst-ms"
//   bench_service dnsdelay LISTEN-PORT DNS-PORT MS
//       a name server's round trip made longer: relays each datagram on
//       127.0.0.1:LISTEN-PORT to 127.0.0.1:DNS-PORT and hands its answer back
//       MS later; runs until killed
//   bench_service dnsbulk PORT DNS-PORT ZONE N
//       one update of each of user0..user(N-1) (proving the passwords) and
//       their publication, then all N at once from new addresses; prints the
//       time from the first of these until the name server on
//       127.0.0.1:DNS-PORT answers every userI.ZONE with its new address (ms)
//   bench_service attack SERVICE-BIN DB PORT SECONDS
//       starts the service, then 16 normal clients (accounts user0..15) while
//       slow connections (1,000 from one address and 1,000 from 50 others)
//       and 100 wrong-password clients from 100 more addresses attack;
//       SIGTERM at the end; prints
//       "normal-p99-ms normal-lost peak-rss-KiB sigterm-ms"
//   bench_service flood SERVICE-BIN DB PORT SECONDS
//       starts the service, then 100 addresses x 10 connections send wrong
//       passwords as fast as they are answered while 20 clients from other
//       addresses each make a first update (accounts user100..119, a password
//       not yet proved); the flood then stops; prints
//       "first-login-p50-ms first-login-p99-ms lost cpu-seconds-in-the-10-s-after"
// Before ldns, which otherwise defines true and false as macros.
#include <stdbool.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ldns/ldns.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sodium.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "service/auth/password_hash.h"
#include "service/auth/update_token.h"
#include "service/store/open_store.h"

namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(const std::string& address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

// A socket from source (an address on 127.0.0.0/8) to the service.
int Connect(const std::string& source, int port, bool blocking) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    const sockaddr_in from = Loopback(source, 0);
    const sockaddr_in to = Loopback("127.0.0.1", port);
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    timeval timeout{20, 0};  // the program's own request time-out
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
        (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
         errno != EINPROGRESS)) {
        close(fd);
        return -1;
    }
    return fd;
}

// One keep-alive HTTP/1.1 client, blocking; reconnects when the server
// closed the connection.
class Client {
public:
    Client(std::string source, int port) : source_(std::move(source)), port_(port) {}
    ~Client() { Close(); }

    // The reply's body, or nothing when no reply came; fields are header
    // lines to send, each ending in CRLF.
    std::optional<std::string> Get(const std::string& target, const std::string& fields = "") {
        return Ask("GET " + target + " HTTP/1.1\r\nHost: bench\r\n" + fields + "\r\n");
    }
    // POSTs form as a form's body; head gets the reply's head.
    std::optional<std::string> Post(const std::string& target, const std::string& form,
                                    std::string& head) {
        return Ask("POST " + target +
                       " HTTP/1.1\r\nHost: bench\r\nContent-Type: "
                       "application/x-www-form-urlencoded\r\nContent-Length: " +
                       std::to_string(form.size()) + "\r\n\r\n" + form,
                   &head);
    }

private:
    std::optional<std::string> Ask(const std::string& request, std::string* head = nullptr) {
        const bool reused = fd_ >= 0;
        std::optional<std::string> body = TryAsk(request, head);
        if (!body && reused) {
            body = TryAsk(request, head);  // the kept connection had been closed
        }
        return body;
    }

    std::optional<std::string> TryAsk(const std::string& request, std::string* head) {
        if (fd_ < 0 && (fd_ = Connect(source_, port_, true)) < 0) {
            return std::nullopt;
        }
        if (send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            return Close();
        }
        std::string in;
        std::size_t headEnd;
        while ((headEnd = in.find("\r\n\r\n")) == std::string::npos) {
            if (!Receive(in)) {
                return Close();
            }
        }
        const std::size_t at = in.find("Content-Length: ");
        const std::size_t length = at < headEnd ? std::stoul(in.substr(at + 16)) : 0;
        while (in.size() < headEnd + 4 + length) {
            if (!Receive(in)) {
                return Close();
            }
        }
        if (in.find("Connection: close") < headEnd) {
            Close();
        }
        if (head != nullptr) {
            *head = in.substr(0, headEnd);
        }
        return in.substr(headEnd + 4, length);
    }

    bool Receive(std::string& in) {
        char buffer[4096];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            in.append(buffer, static_cast<std::size_t>(n));
        }
        return n > 0;
    }

    std::nullopt_t Close() {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
        return std::nullopt;
    }

    std::string source_;
    int port_;
    int fd_ = -1;
};

std::string UpdateTarget(int account, const std::string& password) {
    return "/process.php?login=user" + std::to_string(account) + "&password=" + password;
}

std::string Password(int account) {
    return "pw" + std::to_string(account);
}

// A recorded update (the floor server's constant reply counts as one).
bool Updated(const std::optional<std::string>& reply) {
    return reply && reply->starts_with("100");
}

double Percentile99(std::vector<double>& ms) {
    if (ms.empty()) {
        return 0;
    }
    std::sort(ms.begin(), ms.end());
    return ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

// Clients on 127.0.0.1 asking with correct passwords until stop; each one
// cycles through the accounts given to it. Counts answers that are not a
// recorded update as lost.
struct NormalClients {
    std::vector<double> latenciesMs;
    int lost = 0;
    std::mutex mutex;

    bool changing = false;  // see "throughput ... changing" at the top

    void Run(int port, int clients, int accounts, const std::atomic<bool>& stop) {
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                Client client(changing ? "127.0.14." + std::to_string(c + 1) : "127.0.0.1", port);
                std::vector<double> mine;
                int failed = 0;
                const auto next = [&](int a) {
                    return changing ? (a + clients + 1) % accounts
                                    : (a + clients < accounts ? a + clients : c);
                };
                for (int a = c; !stop; a = next(a)) {
                    const auto start = Clock::now();
                    if (!Updated(client.Get(UpdateTarget(a, Password(a))))) {
                        ++failed;
                    }
                    mine.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                }
                std::lock_guard lock(mutex);
                latenciesMs.insert(latenciesMs.end(), mine.begin(), mine.end());
                lost += failed;
            });
        }
        for (auto& t : threads) {
            t.join();
        }
    }
};

// One request per account, so every password is proved once.
bool WarmUp(int port, int accounts) {
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int c = 0; c < 8; ++c) {
        threads.emplace_back([&, c] {
            Client client("127.0.0.1", port);
            for (int a = c; a < accounts; a += 8) {
                failed += !Updated(client.Get(UpdateTarget(a, Password(a))));
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    return failed == 0;
}

// The store of db, with libsodium started; null (told) when it cannot open.
std::unique_ptr<service::AccountStore> OpenStore(const std::string& db) {
    std::string error;
    auto store = service::InitPasswordHashing() ? service::OpenAccountStore(db, error) : nullptr;
    if (!store) {
        std::fprintf(stderr, "bench_service: %s cannot be used %s\n", db.c_str(), error.c_str());
    }
    return store;
}

int Accounts(const std::string& db, int count) {
    auto store = OpenStore(db);
    if (!store) {
        return 1;
    }
    std::vector<std::thread> threads;
    std::atomic<int> next{0};
    for (unsigned t = 0; t < std::max(1u, std::thread::hardware_concurrency()); ++t) {
        threads.emplace_back([&] {
            for (int a; (a = next++) < count;) {
                store->Add("user" + std::to_string(a),
                           *service::HashPassword(Password(a), service::HashStrength::Interactive));
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    return 0;
}

int Throughput(int port, int seconds, int accounts, bool changing) {
    if (!WarmUp(port, accounts)) {
        std::fprintf(stderr, "bench_service: the warm-up was not answered\n");
        return 1;
    }
    std::atomic<bool> stop{false};
    NormalClients normal;
    normal.changing = changing;
    std::thread timer([&] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        stop = true;
    });
    normal.Run(port, 64, accounts, stop);
    timer.join();
    std::printf("%.0f %.1f %d\n", normal.latenciesMs.size() / static_cast<double>(seconds),
                Percentile99(normal.latenciesMs), normal.lost);
    return 0;
}

int Tokens(const std::string& db, int count, const std::string& file) {
    auto store = OpenStore(db);
    if (!store) {
        return 1;
    }
    std::ofstream out(file);
    for (int a = 0; a < count; ++a) {
        const std::string name = "user" + std::to_string(a);
        const std::optional<service::Account> account = store->Find(name);
        const std::string token = service::NewUpdateToken();
        if (!account ||
            !store->SetTokenHash(name, service::TokenDigest(token, account->tokenKey))) {
            std::fprintf(stderr, "bench_service: no token for %s\n", name.c_str());
            return 1;
        }
        out << token << "\n";
    }
    return out.good() ? 0 : 1;
}

std::string BasicCredentials(const std::string& user, const std::string& password) {
    const std::string pair = user + ":" + password;
    std::string text(sodium_base64_ENCODED_LEN(pair.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(pair.data()),
                      pair.size(), sodium_base64_VARIANT_ORIGINAL);
    return "Authorization: Basic " + text.substr(0, text.find('\0')) + "\r\n";
}

int TokenThroughput(int port, int seconds, const std::string& file) {
    std::vector<std::string> tokens;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        tokens.push_back(line);
    }
    constexpr int kClients = 64;
    if (tokens.size() < kClients) {
        std::fprintf(stderr, "bench_service: %s holds fewer than 64 tokens\n", file.c_str());
        return 1;
    }
    std::atomic<bool> stop{false};
    std::vector<double> latencies;
    int lost = 0;
    std::mutex mutex;
    std::vector<std::thread> threads;
    for (int c = 0; c < kClients; ++c) {
        threads.emplace_back([&, c] {
            Client client("127.0.0.1", port);
            const std::string user = "user" + std::to_string(c);
            const std::string target = "/nic/update?hostname=" + user + "&myip=127.0.0.1";
            const std::string fields = BasicCredentials(user, tokens[c]);
            std::vector<double> mine;
            int failed = 0;
            while (!stop) {
                const auto start = Clock::now();
                const std::optional<std::string> reply = client.Get(target, fields);
                // nginx's constant counts as an update, as in the other rows.
                failed += !(reply && (reply->starts_with("good ") || reply->starts_with("nochg ") ||
                                      Updated(reply)));
                mine.push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            }
            std::lock_guard lock(mutex);
            latencies.insert(latencies.end(), mine.begin(), mine.end());
            lost += failed;
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto& t : threads) {
        t.join();
    }
    std::printf("%.0f %.1f %d\n", latencies.size() / static_cast<double>(seconds),
                Percentile99(latencies), lost);
    return 0;
}

// The account page's overview for user0, loaded again and again by one
// signed-in browser while 64 clients update.
int Pages(int port, int seconds, int accounts) {
    if (!WarmUp(port, accounts)) {
        std::fprintf(stderr, "bench_service: the warm-up was not answered\n");
        return 1;
    }
    Client browser("127.0.0.1", port);
    std::string head;
    browser.Post("/account/sign-in", "login=user0&password=" + Password(0), head);
    const std::size_t at = head.find("kestrome_session=");
    if (at == std::string::npos) {
        std::fprintf(stderr, "bench_service: user0 could not sign in\n");
        return 1;
    }
    const std::string cookie = "Cookie: " + head.substr(at, head.find(';', at) - at) + "\r\n";
    std::atomic<bool> stop{false};
    std::vector<double> pageMs;
    int pagesLost = 0;
    std::thread pages([&] {
        while (!stop) {
            const auto start = Clock::now();
            const std::optional<std::string> page = browser.Get("/account/", cookie);
            pagesLost += !(page && page->find("Signed in as") != std::string::npos);
            pageMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    });
    NormalClients normal;
    std::thread timer([&] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        stop = true;
    });
    normal.Run(port, 64, accounts, stop);
    timer.join();
    pages.join();
    std::printf("%.0f %.0f %.1f %d\n", normal.latenciesMs.size() / static_cast<double>(seconds),
                pageMs.size() / static_cast<double>(seconds), Percentile99(pageMs),
                normal.lost + pagesLost);
    return 0;
}

// 1,000 connections from one address (127.0.4.1) or spread over 50
// (127.0.5.1-50), each sending one byte of a head that never ends every
// second, reconnecting whenever the service closes them.
void SlowConnections(int port, bool spread, const std::atomic<bool>& stop) {
    std::vector<int> fds(1000, -1);
    const auto source = [spread](std::size_t i) {
        return spread ? "127.0.5." + std::to_string(1 + i % 50) : std::string("127.0.4.1");
    };
    while (!stop) {
        for (std::size_t i = 0; i < fds.size() && !stop; ++i) {
            const char byte = 'a';
            if (fds[i] >= 0 && send(fds[i], &byte, 1, MSG_NOSIGNAL) != 1 && errno != EAGAIN) {
                close(fds[i]);
                fds[i] = -1;
            }
            if (fds[i] < 0 && (fds[i] = Connect(source(i), port, false)) >= 0) {
                [[maybe_unused]] ssize_t n =
                    send(fds[i], "GET / HTTP/1.1\r\nX: ", 19, MSG_NOSIGNAL);
            }
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    for (int fd : fds) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// 100 clients from 127.0.6.1-100 guessing passwords as fast as they are answered.
void WrongPasswords(int port, const std::atomic<bool>& stop) {
    std::vector<std::thread> threads;
    for (int c = 0; c < 100; ++c) {
        threads.emplace_back([&, c] {
            Client client("127.0.6." + std::to_string(1 + c), port);
            while (!stop) {
                client.Get(UpdateTarget(c % 16, "wrong"));
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
}

long ResidentKiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ":")) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return 0;
}

pid_t StartService(const std::string& binary, const std::string& db, int port) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, STDERR_FILENO);
        const std::string listen = "127.0.0.1:" + std::to_string(port);
        execl(binary.c_str(), "kestrome-service", "serve", "--listen", listen.c_str(), "--db",
              db.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 100; ++i) {
        const int fd = Connect("127.0.0.1", port, true);
        if (fd >= 0) {
            close(fd);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pid;
}

double StopMs(pid_t pid) {
    const auto start = Clock::now();
    kill(pid, SIGTERM);
    while (waitpid(pid, nullptr, WNOHANG) == 0) {
        if (Clock::now() - start > std::chrono::seconds(30)) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int Attack(const std::string& binary, const std::string& db, int port, int seconds) {
    const pid_t pid = StartService(binary, db, port);
    if (!WarmUp(port, 16)) {
        std::fprintf(stderr, "bench_service: the warm-up was not answered\n");
        StopMs(pid);
        return 1;
    }
    std::atomic<bool> attackStop{false};
    std::atomic<bool> normalStop{false};
    std::thread slowFromOne(SlowConnections, port, false, std::cref(attackStop));
    std::thread slowSpread(SlowConnections, port, true, std::cref(attackStop));
    std::thread wrong(WrongPasswords, port, std::cref(attackStop));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the attack in full swing first
    std::thread timer([&] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        normalStop = true;
    });
    NormalClients normal;
    normal.Run(port, 16, 16, normalStop);
    timer.join();
    const long peak = ResidentKiB(pid, "VmHWM");
    const double stopMs = StopMs(pid);  // still under attack
    attackStop = true;
    slowFromOne.join();
    slowSpread.join();
    wrong.join();
    std::printf("%.1f %d %ld %.0f\n", Percentile99(normal.latenciesMs), normal.lost, peak, stopMs);
    return 0;
}

// CPU time the process has used so far, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int i = 3; fields >> field && i <= 15; ++i) {
        if (i == 14 || i == 15) {  // utime, stime
            ticks += std::stol(field);
        }
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int Flood(const std::string& binary, const std::string& db, int port, int seconds) {
    const pid_t pid = StartService(binary, db, port);
    std::atomic<bool> stop{false};
    std::vector<std::thread> guessers;
    for (int c = 0; c < 1000; ++c) {
        guessers.emplace_back([&, c] {
            Client client("127.0.6." + std::to_string(1 + c / 10), port);
            for (int i = 0; !stop; ++i) {
                client.Get(UpdateTarget(c % 16, "wrong" + std::to_string(i)));
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the flood in full swing first
    std::vector<double> firstLogins;
    int lost = 0;
    const auto spacing = std::chrono::milliseconds(std::max(1, seconds - 2) * 1000 / 20);
    for (int a = 100; a < 120; ++a) {
        const auto start = Clock::now();
        lost += !Updated(
            Client("127.0.7." + std::to_string(a - 99), port).Get(UpdateTarget(a, Password(a))));
        firstLogins.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_until(start + spacing);
    }
    stop = true;
    for (auto& t : guessers) {
        t.join();  // each ends after its answer; closed connections leave the service
    }
    const double before = CpuSeconds(pid);
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double after = CpuSeconds(pid) - before;
    StopMs(pid);
    std::sort(firstLogins.begin(), firstLogins.end());
    std::printf("%.0f %.0f %d %.2f\n", firstLogins[firstLogins.size() / 2],
                Percentile99(firstLogins), lost, after);
    return 0;
}

// The address the name server on 127.0.0.1:port gives for name's A record;
// empty when none.
std::string AddressInDns(int port, const std::string& name) {
    ldns_resolver* resolver = ldns_resolver_new();
    ldns_resolver_push_nameserver(resolver, ldns_rdf_new_frm_str(LDNS_RDF_TYPE_A, "127.0.0.1"));
    ldns_resolver_set_port(resolver, static_cast<std::uint16_t>(port));
    ldns_resolver_set_timeout(resolver, {1, 0});
    ldns_resolver_set_retry(resolver, 1);
    ldns_rdf* owner = ldns_dname_new_frm_str(name.c_str());
    ldns_pkt* answer =
        ldns_resolver_query(resolver, owner, LDNS_RR_TYPE_A, LDNS_RR_CLASS_IN, LDNS_RD);
    std::string address;
    if (answer != nullptr && ldns_pkt_ancount(answer) > 0) {
        char* text = ldns_rdf2str(ldns_rr_rdf(ldns_rr_list_rr(ldns_pkt_answer(answer), 0), 0));
        address = text;
        free(text);
    }
    ldns_pkt_free(answer);
    ldns_rdf_deep_free(owner);
    ldns_resolver_deep_free(resolver);
    return address;
}

int DnsLatency(int port, int dnsPort, const std::string& zone, int count) {
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const std::string source = "127.0.15." + std::to_string(1 + i % 250);
        const auto start = Clock::now();
        if (!Updated(Client(source, port).Get(UpdateTarget(0, Password(0))))) {
            std::fprintf(stderr, "bench_service: the update was not answered\n");
            return 1;
        }
        while (AddressInDns(dnsPort, "user0." + zone) != source) {
            if (Clock::now() - start > std::chrono::seconds(10)) {
                std::fprintf(stderr, "bench_service: %s never came to the name server\n",
                             source.c_str());
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%.1f %.1f\n", ms[ms.size() / 2], ms.back());
    return 0;
}

int DnsDelay(int listenPort, int dnsPort, int delayMs) {
    const int front = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int back = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_in here = Loopback("127.0.0.1", listenPort);
    const sockaddr_in server = Loopback("127.0.0.1", dnsPort);
    if (bind(front, reinterpret_cast<const sockaddr*>(&here), sizeof here) != 0 ||
        connect(back, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
        std::perror("bench_service dnsdelay");
        return 1;
    }
    struct Due {
        Clock::time_point at;
        std::string answer;
        sockaddr_in to;
    };
    std::deque<Due> due;                          // in order of arrival, so in order of time
    std::map<std::uint16_t, sockaddr_in> askers;  // by message ID
    char buffer[65536];
    for (;;) {
        const int wait =
            due.empty()
                ? -1
                : int(std::max<long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(
                                            due.front().at - Clock::now())
                                            .count()));
        pollfd ready[2] = {{front, POLLIN, 0}, {back, POLLIN, 0}};
        poll(ready, 2, wait);
        if (ready[0].revents & POLLIN) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const ssize_t n = recvfrom(front, buffer, sizeof buffer, 0,
                                       reinterpret_cast<sockaddr*>(&from), &length);
            if (n >= 2) {
                askers[std::uint16_t((std::uint8_t(buffer[0]) << 8) | std::uint8_t(buffer[1]))] =
                    from;
                send(back, buffer, std::size_t(n), 0);
            }
        }
        if (ready[1].revents & POLLIN) {
            const ssize_t n = recv(back, buffer, sizeof buffer, 0);
            const auto asker = n >= 2 ? askers.find(std::uint16_t((std::uint8_t(buffer[0]) << 8) |
                                                                  std::uint8_t(buffer[1])))
                                      : askers.end();
            if (asker != askers.end()) {
                due.push_back({Clock::now() + std::chrono::milliseconds(delayMs),
                               std::string(buffer, std::size_t(n)), asker->second});
                askers.erase(asker);
            }
        }
        while (!due.empty() && due.front().at <= Clock::now()) {
            const Due& d = due.front();
            sendto(front, d.answer.data(), d.answer.size(), 0,
                   reinterpret_cast<const sockaddr*>(&d.to), sizeof d.to);
            due.pop_front();
        }
    }
}

// Waits until each account's name shows the address source(account) gives.
bool AllInDns(int dnsPort, const std::string& zone, int count,
              const std::function<std::string(int)>& source) {
    std::vector<int> missing(static_cast<std::size_t>(count));
    std::iota(missing.begin(), missing.end(), 0);
    const auto until = Clock::now() + std::chrono::seconds(30);
    while (!missing.empty() && Clock::now() < until) {
        std::erase_if(missing, [&](int a) {
            return AddressInDns(dnsPort, "user" + std::to_string(a) + "." + zone) == source(a);
        });
    }
    return missing.empty();
}

int DnsBulk(int port, int dnsPort, const std::string& zone, int count) {
    const auto update = [port](int a, const std::string& source) {
        return Updated(Client(source, port).Get(UpdateTarget(a, Password(a))));
    };
    const auto first = [](int) { return std::string("127.0.0.1"); };
    const auto moved = [](int a) {
        return "127.0." + std::to_string(20 + a / 250) + "." + std::to_string(1 + a % 250);
    };
    for (int a = 0; a < count; ++a) {
        update(a, first(a));
    }
    if (!AllInDns(dnsPort, zone, count, first)) {
        std::fprintf(stderr, "bench_service: the first addresses never all came to DNS\n");
        return 1;
    }
    const auto start = Clock::now();
    for (int a = 0; a < count; ++a) {
        if (!update(a, moved(a))) {
            std::fprintf(stderr, "bench_service: an update was not answered\n");
            return 1;
        }
    }
    if (!AllInDns(dnsPort, zone, count, moved)) {
        std::fprintf(stderr, "bench_service: the new addresses never all came to DNS\n");
        return 1;
    }
    std::printf("%.0f\n", std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    rlimit files{};  // room for every attacking connection
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 3 && args[0] == "accounts") {
        return Accounts(args[1], std::stoi(args[2]));
    }
    if ((args.size() == 4 || (args.size() == 5 && args[4] == "changing")) &&
        args[0] == "throughput") {
        return Throughput(std::stoi(args[1]), std::stoi(args[2]), std::stoi(args[3]),
                          args.size() == 5);
    }
    if (args.size() == 4 && args[0] == "pages") {
        return Pages(std::stoi(args[1]), std::stoi(args[2]), std::stoi(args[3]));
    }
    if (args.size() == 4 && args[0] == "tokens") {
        return Tokens(args[1], std::stoi(args[2]), args[3]);
    }
    if (args.size() == 4 && args[0] == "tokenput") {
        return TokenThroughput(std::stoi(args[1]), std::stoi(args[2]), args[3]);
    }
    if (args.size() == 5 && args[0] == "dnslatency") {
        return DnsLatency(std::stoi(args[1]), std::stoi(args[2]), args[3], std::stoi(args[4]));
    }
    if (args.size() == 4 && args[0] == "dnsdelay") {
        return DnsDelay(std::stoi(args[1]), std::stoi(args[2]), std::stoi(args[3]));
    }
    if (args.size() == 5 && args[0] == "dnsbulk") {
        return DnsBulk(std::stoi(args[1]), std::stoi(args[2]), args[3], std::stoi(args[4]));
    }
    if (args.size() == 5 && args[0] == "flood") {
        return Flood(args[1], args[2], std::stoi(args[3]), std::stoi(args[4]));
    }
    if (args.size() == 5 && args[0] == "attack") {
        return Attack(args[1], args[2], std::stoi(args[3]), std::stoi(args[4]));
    }
    std::fprintf(stderr, "usage: see the comment at the top of bench_service.cpp\n");
    return 2;
}
