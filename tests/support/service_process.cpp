#include "support/service_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "support/temp_dir.h"

namespace testsupport {

namespace {

constexpr auto kStartWait = std::chrono::seconds(10);

bool CanConnect(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

int ExitStatus(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int FreeLoopbackPort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

CommandResult RunServiceCommand(const std::string& db, const std::string& args,
                                const std::string& input) {
    TempDir io;
    WriteFile(io.File("in"), input);
    const std::string command = std::string(KESTROME_SERVICE_BIN) + " --db '" + db + "' " + args +
                                " < '" + io.File("in") + "' > '" + io.File("out") + "' 2>&1";
    CommandResult result;
    result.status = ExitStatus(std::system(command.c_str()));
    result.output = ReadFile(io.File("out"));
    return result;
}

void AddAccount(const std::string& db, const std::string& name, const std::string& password) {
    RunServiceCommand(db, "--hash-strength minimum user add '" + name + "'", password + "\n");
}

ServiceProcess::ServiceProcess(const std::string& db, int port, const std::string& listenHost,
                               int logFd, int descriptors,
                               const std::vector<std::string>& extraArgs)
    : port_(port != 0 ? port : FreeLoopbackPort()),
      logPath_(db + ".log"),
      ownLog_(db.find("://") != std::string::npos) {
    if (ownLog_) {
        logPath_ = "/tmp/kestrome-service-XXXXXX";
        close(mkstemp(logPath_.data()));
    }
    // Everything the child needs is made before the fork.
    const std::string listen = listenHost + ":" + std::to_string(port_);
    std::vector<const char*> argv = {"kestrome-service", "serve", "--listen",
                                     listen.c_str(),     "--db",  db.c_str()};
    for (const std::string& arg : extraArgs) {
        argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        const int log =
            logFd >= 0 ? logFd : open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(log, STDERR_FILENO);
        if (descriptors > 0) {
            const rlimit limit{static_cast<rlim_t>(descriptors), static_cast<rlim_t>(descriptors)};
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        execv(KESTROME_SERVICE_BIN, const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + kStartWait;
    while (!ready_ && std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        ready_ = CanConnect(port_);
        if (!ready_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
}

ServiceProcess::~ServiceProcess() {
    Stop();
    if (ownLog_) {
        unlink(logPath_.c_str());
    }
}

void ServiceProcess::Kill() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

int ServiceProcess::Stop() {
    if (pid_ <= 0) {
        return -1;
    }
    kill(pid_, SIGTERM);
    int status = 0;
    // A service that does not stop is a failure, not a hung test.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    return ExitStatus(status);
}

std::string ServiceProcess::Log() const {
    return ReadFile(logPath_);
}

}  // namespace testsupport
