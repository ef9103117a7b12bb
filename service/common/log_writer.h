// The service's log, written by a thread of its own through a bounded queue:
// a reader that stops reading (a full pipe) costs log lines, counted and
// reported once it reads again, never an answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>

#include "service/common/log_line.h"

namespace service {

class LogWriter {
public:
    explicit LogWriter(std::ostream& out, std::size_t maxQueuedBytes = 256 * 1024);
    // Writes what is queued, waiting at most a second for a stalled reader.
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // Queues whole lines (each with its line end); dropped when the queue is
    // full.
    void Write(std::string lines);
    // Write, for those that take a sink; the writer must outlive it.
    LineSink Sink();
    // Waits until what is queued is written, at most a second; false when the
    // reader still stalls the writing.
    bool Flush();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;  // also held by the writing thread
};

}  // namespace service
