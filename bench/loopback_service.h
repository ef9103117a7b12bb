// The reference update service started on a loopback port for a benchmark,
// with one account, demo / demo; stopped with SIGTERM at the end.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

// The reference update service on a loopback port, with one account.
class LoopbackService {
public:
    explicit LoopbackService(int port)
        : port_(port),
          db_(std::filesystem::temp_directory_path() /
              ("bench-exchange-" + std::to_string(getpid()) + ".db")) {
        const std::string service = KESTROME_SERVICE_BIN;
        std::system(("printf 'demo\\n' | " + service + " --db " + db_.string() +
                     " --hash-strength minimum user add demo >/dev/null")
                        .c_str());
        pid_ = fork();
        if (pid_ == 0) {
            const std::string listen = "127.0.0.1:" + std::to_string(port_);
            execl(service.c_str(), "kestrome-service", "serve", "--listen", listen.c_str(), "--db",
                  db_.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    ~LoopbackService() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        std::filesystem::remove(db_);
    }
    std::string Url() const {
        return "http://127.0.0.1:" + std::to_string(port_) +
               "/process.php?login=demo&password=demo";
    }

private:
    int port_;
    std::filesystem::path db_;
    pid_t pid_ = -1;
};
