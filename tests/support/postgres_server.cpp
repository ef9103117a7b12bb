#include "support/postgres_server.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>

#include "support/service_process.h"
#include "support/temp_dir.h"

namespace testsupport {

namespace {

constexpr const char* kBin = "/usr/lib/postgresql/15/bin";
// The server refuses to run as root; nobody owns its files instead.
constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

// Runs a shell command (as nobody when this process is root) and gives its
// output and error together; status gets its exit status.
std::string Shell(const std::string& command, int* status = nullptr) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return "pipe failed";
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNogroup) != 0 || setuid(kNobody) != 0)) {
            _exit(126);
        }
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int raw = 0;
    waitpid(pid, &raw, 0);
    if (status != nullptr) {
        *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    return text;
}

}  // namespace

PostgresServer::PostgresServer(const std::string& dir)
    : dir_(dir + "/pg"), port_(FreeLoopbackPort()) {
    if (access((std::string(kBin) + "/initdb").c_str(), X_OK) != 0) {
        trouble_ = "PostgreSQL 15 is not installed; scripts/install-deps installs it";
        return;
    }
    mkdir(dir_.c_str(), 0700);
    if (geteuid() == 0) {
        chmod(dir.c_str(), 0711);  // nobody must reach its own folder
        chown(dir_.c_str(), kNobody, kNogroup);
    }
    int status = 0;
    const std::string made =
        Shell(std::string(kBin) +
                  "/initdb --no-sync -U postgres -A trust --auth-host=scram-sha-256 -D '" + dir_ +
                  "/data' >/dev/null",
              &status);
    if (status != 0) {
        trouble_ = "initdb failed: " + made;
        return;
    }
    if (Start()) {
        Query(std::string("CREATE ROLE kestrome LOGIN PASSWORD '") + kPassword +
                  "'; CREATE DATABASE kestrome OWNER kestrome;",
              "postgres");
    }
}

PostgresServer::~PostgresServer() {
    Stop();
}

bool PostgresServer::Start() {
    int status = 0;
    const std::string said =
        Shell(std::string(kBin) + "/pg_ctl -D '" + dir_ + "/data' -l '" + dir_ +
                  "/log' -w -t 30 -o \"-k '" + dir_ + "' -p " + std::to_string(port_) +
                  " -c listen_addresses=127.0.0.1\" start",
              &status);
    trouble_ = status == 0 ? "" : "pg_ctl start failed: " + said + ReadFile(dir_ + "/log");
    return status == 0;
}

bool PostgresServer::Stop() {
    int status = 0;
    Shell(std::string(kBin) + "/pg_ctl -D '" + dir_ + "/data' -m fast -w -t 30 stop", &status);
    return status == 0;
}

std::string PostgresServer::SocketUri() const {
    return "postgresql:///kestrome?host=" + dir_ + "&port=" + std::to_string(port_) +
           "&user=kestrome";
}

std::string PostgresServer::TcpUri(const std::string& password) const {
    return "postgresql://kestrome:" + password + "@127.0.0.1:" + std::to_string(port_) +
           "/kestrome";
}

std::string PostgresServer::Query(const std::string& sql, const std::string& database) const {
    // A file per call: queries may run at once from several threads.
    static std::atomic<int> calls = 0;
    const std::string file = dir_ + "/query" + std::to_string(++calls) + ".sql";
    WriteFile(file, sql);
    chmod(file.c_str(), 0644);
    return Shell(std::string(kBin) + "/psql -X -q -A -t -v ON_ERROR_STOP=1 -h '" + dir_ + "' -p " +
                 std::to_string(port_) + " -U postgres -d " + database + " -f '" + file + "'");
}

}  // namespace testsupport
