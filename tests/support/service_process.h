// The real update service, started as a separate process on a free loopback
// port with its own database, and stopped with SIGTERM at the end.
#pragma once

#include <sys/types.h>
#include <string>
#include <vector>

namespace testsupport {

struct CommandResult {
    int status = -1;  // exit status, or -1 when the command did not exit normally
    std::string output;
};

// Runs the service program with args, feeding input on its standard input.
CommandResult RunServiceCommand(const std::string& db, const std::string& args,
                                const std::string& input = "");

// Adds an account with the cheapest password hash (tests only).
void AddAccount(const std::string& db, const std::string& name, const std::string& password);

class ServiceProcess {
public:
    // Starts "serve" on db (a file, or a database URI) on listenHost (127.0.0.1 unless given) and a
    // free port (or the given one), its standard error going to the log file or, when given, to
    // logFd; with descriptors, that is the most it may open; extraArgs follow the others.
    explicit ServiceProcess(const std::string& db, int port = 0,
                            const std::string& listenHost = "127.0.0.1", int logFd = -1,
                            int descriptors = 0, const std::vector<std::string>& extraArgs = {});
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool Ready() const { return ready_; }
    int Port() const { return port_; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string Log() const;
    const std::string& LogPath() const { return logPath_; }
    pid_t Pid() const { return pid_; }
    // Ends it with SIGKILL, as a machine that goes away would.
    void Kill();
    // Stops it with SIGTERM; returns the exit status (-1 if it did not exit
    // cleanly, or not within 10 s).
    int Stop();

private:
    pid_t pid_ = -1;
    int port_ = 0;
    bool ready_ = false;
    std::string logPath_;
    bool ownLog_ = false;  // a file of its own, for a database URI
};

int FreeLoopbackPort();

}  // namespace testsupport
