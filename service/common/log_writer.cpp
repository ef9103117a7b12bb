#include "service/common/log_writer.h"

#include <ostream>
#include <thread>
#include <utility>

#include "service/common/log_line.h"

namespace service {

struct LogWriter::Shared {
    static constexpr auto kGathering = std::chrono::milliseconds(20);

    std::ostream& out;
    std::size_t maxQueuedBytes;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable drained;
    std::deque<std::string> lines;
    std::size_t queuedBytes = 0;
    std::uint64_t dropped = 0;
    bool writing = false;
    bool stopping = false;

    // The writing thread: takes what is queued, writes it outside the lock.
    void Run() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !lines.empty(); });
            if (lines.empty()) {
                return;
            }
            // Lines that come meanwhile join this batch: one wake-up and one
            // write for many lines, not a thread switch for each.
            writing = true;
            lock.unlock();
            std::this_thread::sleep_for(kGathering);
            lock.lock();
            std::deque<std::string> batch = std::exchange(lines, {});
            queuedBytes = 0;
            const std::uint64_t lost = std::exchange(dropped, 0);
            lock.unlock();
            WriteBatch(batch, lost);
            lock.lock();
            writing = false;
            drained.notify_all();
        }
    }

    void WriteBatch(const std::deque<std::string>& batch, std::uint64_t lost) {
        std::string text;
        if (lost > 0) {
            text = ServiceLine(std::to_string(lost) + " log lines dropped");
        }
        for (const std::string& line : batch) {
            text += line;
        }
        out << text << std::flush;
    }
};

LogWriter::LogWriter(std::ostream& out, std::size_t maxQueuedBytes)
    : shared_(std::make_shared<Shared>(out, maxQueuedBytes)) {
    std::thread([shared = shared_] { shared->Run(); }).detach();
}

// A writer stuck on a reader that never reads again is left behind: it holds
// its own share of the state, and the process ends around it.
LogWriter::~LogWriter() {
    Flush();
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
    shared_->wake.notify_all();
}

bool LogWriter::Flush() {
    std::unique_lock lock(shared_->mutex);
    return shared_->drained.wait_for(lock, std::chrono::seconds(1), [this] {
        return shared_->lines.empty() && !shared_->writing;
    });
}

LineSink LogWriter::Sink() {
    return [this](const std::string& lines) { Write(lines); };
}

void LogWriter::Write(std::string lines) {
    if (lines.empty()) {
        return;
    }
    std::lock_guard lock(shared_->mutex);
    if (shared_->queuedBytes + lines.size() > shared_->maxQueuedBytes) {
        ++shared_->dropped;
        return;
    }
    // The writer takes everything queued at once, so only a line that finds it
    // idle has to wake it.
    const bool wake = shared_->lines.empty() && !shared_->writing;
    shared_->queuedBytes += lines.size();
    shared_->lines.push_back(std::move(lines));
    if (wake) {
        shared_->wake.notify_one();
    }
}

}  // namespace service
