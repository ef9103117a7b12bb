// Measures a program as a process, started with the offscreen platform in a
// folder of its own:
//   bench_process startup RUNS MARKER PROGRAM [CONFIG]
//       median milliseconds from start until MARKER appears in the folder, and
//       resident memory (KiB) half a second later
//   bench_process settle RUNS PROGRAM [CONFIG]
//       median milliseconds from start until the program first sits idle (no
//       CPU time used for SETTLE_MS), and its peak resident memory (KiB) then;
//       for start-ups that write no file to watch for
//   bench_process idle SECONDS PROGRAM [CONFIG]
//       voluntary context switches of all its threads over SECONDS, after it
//       has settled
// CONFIG is copied into the folder as kestrome.cfg first.
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

fs::path MakeFolder(const char* config) {
    fs::path dir =
        fs::temp_directory_path() / ("kestrome-bench-" + std::to_string(getpid()) + "-" +
                                     std::to_string(Clock::now().time_since_epoch().count()));
    fs::create_directories(dir);
    if (config != nullptr) {
        fs::copy_file(config, dir / "kestrome.cfg");
    }
    return dir;
}

pid_t Start(const fs::path& dir, const char* program) {
    pid_t pid = fork();
    if (pid == 0) {
        fs::current_path(dir);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void Stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

// Waits (at most 30 s) until a file of that name is closed or moved into dir.
bool WaitForFile(int inotify, const std::string& name) {
    alignas(inotify_event) char buf[4096];
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        ssize_t n = read(inotify, buf, sizeof buf);
        for (char* p = buf; n > 0 && p < buf + n;) {
            auto* event = reinterpret_cast<inotify_event*>(p);
            if (event->len > 0 && name == event->name) {
                return true;
            }
            p += sizeof(inotify_event) + event->len;
        }
    }
    return false;
}

long StatusField(const fs::path& status, const std::string& field) {
    std::ifstream in(status);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return 0;
}

long VoluntarySwitches(pid_t pid) {
    long total = 0;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        total += StatusField(task.path() / "status", "voluntary_ctxt_switches");
    }
    return total;
}

int Startup(int runs, const std::string& marker, const char* program, const char* config) {
    std::vector<double> times;
    long rss = 0;
    for (int i = 0; i < runs; ++i) {
        const fs::path dir = MakeFolder(config);
        const int inotify = inotify_init1(IN_CLOEXEC);
        inotify_add_watch(inotify, dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO);
        const auto start = Clock::now();
        const pid_t pid = Start(dir, program);
        if (!WaitForFile(inotify, marker)) {
            std::cerr << "bench_process: " << program << " never wrote " << marker << std::endl;
            Stop(pid);
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        rss = std::max(rss, StatusField("/proc/" + std::to_string(pid) + "/status", "VmRSS"));
        Stop(pid);
        close(inotify);
        fs::remove_all(dir);
    }
    std::sort(times.begin(), times.end());
    std::cout << "median_ms " << times[times.size() / 2] << " rss_kib " << rss << std::endl;
    return 0;
}

// CPU time (ns) used so far by all the process's threads.
long long CpuNanoseconds(pid_t pid) {
    long long total = 0;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
        std::ifstream in(task.path() / "schedstat");
        long long ns = 0;
        in >> ns;
        total += ns;
    }
    return total;
}

constexpr auto kSettle = std::chrono::milliseconds(200);

// Milliseconds from start until the process last used CPU time before a quiet
// spell of kSettle (at most 30 s).
double MillisecondsUntilIdle(pid_t pid, Clock::time_point start) {
    long long used = -1;
    auto lastBusy = start;
    while (Clock::now() - start < std::chrono::seconds(30)) {
        const long long now = CpuNanoseconds(pid);
        if (now != used) {
            used = now;
            lastBusy = Clock::now();
        } else if (Clock::now() - lastBusy >= kSettle) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return std::chrono::duration<double, std::milli>(lastBusy - start).count();
}

int Settle(int runs, const char* program, const char* config) {
    std::vector<double> times;
    long peak = 0;
    for (int i = 0; i < runs; ++i) {
        const fs::path dir = MakeFolder(config);
        const auto start = Clock::now();
        const pid_t pid = Start(dir, program);
        times.push_back(MillisecondsUntilIdle(pid, start));
        peak = std::max(peak, StatusField("/proc/" + std::to_string(pid) + "/status", "VmHWM"));
        Stop(pid);
        fs::remove_all(dir);
    }
    std::sort(times.begin(), times.end());
    std::cout << "median_ms " << times[times.size() / 2] << " peak_kib " << peak << std::endl;
    return 0;
}

int Idle(int seconds, const char* program, const char* config) {
    const fs::path dir = MakeFolder(config);
    const pid_t pid = Start(dir, program);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long before = VoluntarySwitches(pid);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long after = VoluntarySwitches(pid);
    Stop(pid);
    fs::remove_all(dir);
    std::cout << "voluntary_switches " << (after - before) << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "startup" && argc >= 5) {
        return Startup(std::atoi(argv[2]), argv[3], argv[4], argc > 5 ? argv[5] : nullptr);
    }
    if (mode == "settle" && argc >= 4) {
        return Settle(std::atoi(argv[2]), argv[3], argc > 4 ? argv[4] : nullptr);
    }
    if (mode == "idle" && argc >= 4) {
        return Idle(std::atoi(argv[2]), argv[3], argc > 4 ? argv[4] : nullptr);
    }
    std::cerr << "usage: bench_process startup RUNS MARKER PROGRAM [CONFIG] | settle RUNS PROGRAM "
                 "[CONFIG] | idle SECONDS PROGRAM [CONFIG]"
              << std::endl;
    return 2;
}
