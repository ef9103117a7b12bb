// The log writer: lines in order, and a reader that stalls costs counted,
// dropped lines, never a blocked writer.
#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>

#include "service/common/log_line.h"
#include "service/common/log_writer.h"

using namespace service;

namespace {

// A stream whose reader stalls inside the first write until let go, as a
// full pipe would hold the log's thread.
class StallingBuffer : public std::streambuf {
public:
    std::promise<void> stalled;
    std::promise<void> resume;
    std::string Text() {
        std::lock_guard lock(mutex_);
        return text_;
    }

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (first_) {
            first_ = false;
            stalled.set_value();
            resume.get_future().wait();
        }
        std::lock_guard lock(mutex_);
        text_.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int overflow(int c) override {
        const char ch = static_cast<char>(c);
        return c == traits_type::eof() ? 0 : static_cast<int>(xsputn(&ch, 1));
    }

private:
    bool first_ = true;
    std::mutex mutex_;
    std::string text_;
};

TEST(LogWriterTest, LinesFromAStalledReaderAreDroppedAndCounted) {
    StallingBuffer buffer;
    std::ostream out(&buffer);
    {
        LogWriter log(out, 10);
        log.Write("first\n");
        buffer.stalled.get_future().wait();
        log.Write("aaaa\n");
        log.Write("bbbb\n");
        log.Write("cccc\n");  // the queue holds 10 bytes: these two are dropped
        log.Write("dddd\n");
        buffer.resume.set_value();
        EXPECT_TRUE(log.Flush());
        log.Write("last\n");
    }
    EXPECT_EQ(buffer.Text(), "first\n" + ServiceLine("2 log lines dropped") + "aaaa\nbbbb\nlast\n");
}

// A reader that keeps up gets every line however much is written in all: the
// queue's bound is on what waits, not on what went before.
TEST(LogWriterTest, AReaderThatKeepsUpGetsEveryLineOfALongLog) {
    std::ostringstream out;
    const std::string line = std::string(500, 'x') + "\n";
    {
        LogWriter log(out, 65536);
        for (int i = 0; i < 2000; ++i) {
            log.Write(line);
            if (i % 100 == 99) {
                ASSERT_TRUE(log.Flush());
            }
        }
    }
    EXPECT_EQ(out.str().size(), 2000 * line.size());
}

TEST(LogWriterTest, ASinkWritesThroughTheQueue) {
    std::ostringstream out;
    {
        LogWriter log(out);
        const LineSink sink = log.Sink();
        sink("one\n");
        sink("two\n");
        EXPECT_TRUE(log.Flush());
        EXPECT_EQ(out.str(), "one\ntwo\n");
    }
}

TEST(LogLineTest, ValuesFromOutsideCannotForgeALine) {
    EXPECT_EQ(ServiceLine("listening"), "kestrome-service: listening\n");
    EXPECT_EQ(LogSafe("joe\n2026-01-01T00:00:00Z forged \"x\"\\"),
              "joe\\x0A2026-01-01T00:00:00Z forged \\x22x\\x22\\x5C");
    EXPECT_EQ(LogSafe("caf\xC3\xA9"), "caf\\xC3\\xA9");
    EXPECT_EQ(LogSafe(std::string(65, 'a')), std::string(64, 'a') + "...");
}

}  // namespace
