// The update exchange: the program's own request path (open, one read of at most
// 18 bytes, interpretation) against a bare libcurl GET of the same URL with a
// reused easy handle, both against the same loopback service.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <QString>
#include <thread>

#include "loopback_service.h"
#include "platform/net/internet_session.h"
#include "update/reply.h"

namespace {

LoopbackService& Server() {
    static LoopbackService service(28247);
    return service;
}

void ProgramExchange(benchmark::State& state) {
    auto session = platform::InternetSession::Open("Kestrome v1.2");
    const std::string url = Server().Url();
    for (auto _ : state) {
        auto request = session->OpenUrl(url, update::kReplySize);
        char buffer[update::kReplySize];
        std::size_t bytes = 0;
        request->Read(buffer, sizeof buffer, bytes);
        const QString reply = update::TrimTrailingWhitespace(
            QString::fromLatin1(buffer, static_cast<qsizetype>(bytes)));
        const int code = update::ReplyCode(update::ReplyCodeText(reply));
        benchmark::DoNotOptimize(update::OutcomeOf(code));
        benchmark::DoNotOptimize(update::ReplyAddress(reply));
    }
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

void BareCurlGet(benchmark::State& state) {
    CURL* curl = curl_easy_init();
    const std::string url = Server().Url();
    std::string body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body.clear();
        curl_easy_perform(curl);
        benchmark::DoNotOptimize(body);
    }
    curl_easy_cleanup(curl);
}

}  // namespace

BENCHMARK(ProgramExchange)->MinTime(2.0)->UseRealTime();
BENCHMARK(BareCurlGet)->MinTime(2.0)->UseRealTime();

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
