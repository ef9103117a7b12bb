// What a network or a server can do wrong, through the real dialog and the real
// HTTP client: each gives the status the reply rules prescribe, and a later
// good reply works.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/updater_harness.h"
#include "support/service_process.h"

using namespace testsupport;

namespace {

const QString kUnreachable =
    "Either you are not connected to the internet or the server is currently down. Please try "
    "again later. \r\n";
const QString kNoResponse = "No response from website. \r\n";
const QString kUpdated = "Information Updated. \r\n9:5:7 \r\n";

struct Fault {
    const char* name;
    ScriptedHttpServer::Script script;
    QString statusFirst;      // as the first request of a connection
    QString statusAfterGood;  // after a good reply earlier in the run
};

void SendHead(Connection& c, const std::string& contentLength) {
    c.ReadRequest();
    c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " + contentLength +
           "\r\n\r\n");
}

std::vector<Fault> Faults() {
    return {
        {"reset after the header",
         [](Connection& c) {
             SendHead(c, "12");
             c.Reset();
         },
         kUnreachable, kNoResponse},
        {"reset mid-body",
         [](Connection& c) {
             SendHead(c, "12");
             c.Send("100");
             c.Reset();
         },
         kUnreachable, kNoResponse},
        {"body trickling a byte a second",
         [](Connection& c) {
             SendHead(c, "18");
             for (char ch : std::string("100111.222.111.222")) {
                 if (!c.Send(std::string(1, ch))) {
                     return;
                 }
                 std::this_thread::sleep_for(std::chrono::seconds(1));
             }
         },
         kUnreachable, kNoResponse},
        {"binary garbage",
         [](Connection& c) {
             c.ReadRequest();
             c.Reply(std::string("\x00\xFF\x80garbage\x01\x02", 12));
         },
         kNoResponse, kNoResponse},
        {"not HTTP at all",
         [](Connection& c) {
             c.ReadRequest();
             c.Send("220 mail.example.org ESMTP ready\r\n");
         },
         kUnreachable, kUnreachable},
        {"redirect loop",
         [](Connection& c) {
             c.ReadRequest();
             c.Reply("", 302, "Location: /process.php\r\n");
         },
         kUnreachable, kUnreachable},
        {"HTTP 500 with a page",
         [](Connection& c) {
             c.ReadRequest();
             c.Reply("<html><body><h1>500 Internal Server Error</h1></body></html>", 500);
         },
         kNoResponse, kNoResponse},
    };
}

// The status after a connect that meets the fault, then after a good reply.
void ExpectFault(const Fault& f, bool afterGood) {
    SCOPED_TRACE(std::string(f.name) + (afterGood ? ", after a good reply" : ""));
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "pw", ""));
    h.Run([&] {
        if (afterGood) {
            h.Click(res::IDC_CONNECT);
            h.Click(res::IDC_DISCONNECT);
        }
        h.server.SetScript(f.script);
        h.Click(res::IDC_CONNECT);
        EXPECT_EQ(h.Status(), afterGood ? f.statusAfterGood : f.statusFirst);
        h.server.ReplyWith("100127.0.0.1");
        if (h.Connected()) {
            h.Minutes(5);
        } else {
            h.Click(res::IDC_CONNECT);
        }
        EXPECT_EQ(h.Status(), kUpdated) << "the program stays usable";
    });
}

TEST(FaultInjectionTest, EachFaultGivesItsStatusAndThenAGoodReplyWorks) {
    for (const Fault& f : Faults()) {
        ExpectFault(f, false);
        ExpectFault(f, true);
    }
}

TEST(FaultInjectionTest, RefusedConnection) {
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "pw", ""));
    h.fakes.services.serviceHost = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
    h.Run([&] {
        h.Click(res::IDC_CONNECT);
        EXPECT_EQ(h.Status(), kUnreachable);
    });
}

TEST(FaultInjectionTest, SilentServerReleasesTheWindowWithinTheTimeout) {
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "pw", ""));
    h.server.SetScript([](Connection& c) {
        c.ReadRequest();
        c.WaitForClientClose(30000);
    });
    h.Run([&] {
        const auto start = std::chrono::steady_clock::now();
        h.Click(res::IDC_CONNECT);
        const auto blocked = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(h.Status(), kUnreachable);
        EXPECT_LT(blocked,
                  std::chrono::milliseconds(h.fakes.services.internetTimeouts.totalMs + 2000))
            << "a hang, not a time-out";
    });
}

TEST(FaultInjectionTest, TenMegabyteBodyIsReadEighteenBytesAndDropped) {
    UpdaterHarness h;
    h.WriteConfig(Config("joe", "pw", ""));
    std::atomic<bool> cutShort{false};
    h.server.SetScript([&](Connection& c) {
        SendHead(c, std::to_string(10 << 20));
        cutShort = !c.Send("100123.123.123.123" + std::string((10 << 20) - 18, 'x'));
    });
    h.Run([&] {
        h.Click(res::IDC_CONNECT);
        EXPECT_EQ(h.Status(), kUpdated);
        EXPECT_EQ(h.Address(), "123.123.123.123");
        h.server.ReplyWith("100");  // waits until the script above has finished
        h.Minutes(5);
    });
    EXPECT_TRUE(cutShort) << "the server saw the connection end early";
}

}  // namespace
