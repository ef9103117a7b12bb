// A response's bytes as HTTP/1.1 sends them.
#include <gtest/gtest.h>

#include "service/http/response.h"

using namespace service;

namespace {

TEST(ResponseTest, StatusLineHeadersAndBody) {
    EXPECT_EQ(SerializeResponse(HttpResponse::Content("text/plain", "100192.0.2.7"), true, true),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 12\r\n"
              "Connection: keep-alive\r\n\r\n100192.0.2.7");
    EXPECT_EQ(SerializeResponse(HttpResponse::Content("text/html", "<p>x</p>"), false, false),
              "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 8\r\n"
              "Connection: close\r\n\r\n")
        << "an answer to HEAD tells the length of the body it leaves out";
    EXPECT_EQ(SerializeResponse(HttpResponse::NotAllowed("GET, HEAD"), true, true),
              "HTTP/1.1 405 Method Not Allowed\r\nAllow: GET, HEAD\r\nContent-Length: 0\r\n"
              "Connection: keep-alive\r\n\r\n");
}

TEST(ResponseTest, EveryStatusTheServiceSendsHasItsReason) {
    const std::pair<int, const char*> statuses[] = {
        {303, "See Other"},           {400, "Bad Request"},
        {403, "Forbidden"},           {404, "Not Found"},
        {408, "Request Timeout"},     {413, "Content Too Large"},
        {414, "URI Too Long"},        {415, "Unsupported Media Type"},
        {429, "Too Many Requests"},   {431, "Request Header Fields Too Large"},
        {503, "Service Unavailable"}, {505, "HTTP Version Not Supported"},
    };
    for (const auto& [status, reason] : statuses) {
        EXPECT_EQ(SerializeResponse(HttpResponse::Status(status), true, false),
                  "HTTP/1.1 " + std::to_string(status) + " " + reason +
                      "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }
    EXPECT_EQ(SerializeResponse(HttpResponse::Status(599), true, false).substr(0, 19),
              "HTTP/1.1 599 Error\r");
}

}  // namespace
