// korvane-host serve against hostile clients: ambiguous framing, missing
// Host, HEAD and absolute-form targets, the body budget, metrics labels that
// clients cannot inflate, and the bounded trace file.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>

#include "host_test_support.h"

namespace hosttest {
namespace {

// Everything the server answers to `bytes` on one connection, which it must close.
std::string Exchange(int port, const std::string &bytes) {
    RawClient client;
    if (!client.Connect(port) || !client.Send(bytes)) return "(no connection)";
    bool closed = false;
    const std::string answer = client.Read(seconds(5), "", &closed);
    return closed ? answer : answer + "(left open)";
}

std::string Reply(const std::string &status, const std::string &type, const std::string &body,
                  bool close) {
    return "HTTP/1.1 " + status + "\r\nServer: korvane-host\r\nContent-Type: " + type +
           (close ? "\r\nConnection: close" : "") +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Post(const std::string &body, const std::string &headers = "") {
    return "POST / HTTP/1.1\r\nHost: h\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Select(const std::string &table) {
    return "<tesselrequest><select><from><db name=\"" + table +
           "\"/></from></select></tesselrequest>";
}

TEST(ServeStrict, AmbiguousFramingMissingHostHeadAndAbsoluteTargets) {
    TempDir dir;
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--trace-file", "/dev/null", "--events", dir.Path() + "/e"}));
    const std::string next = "GET /metrics HTTP/1.1\r\nHost: h\r\n\r\n";  // must not be served
    const std::string last = "GET /health HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n";
    const std::string post = "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: ";
    const std::string framing =
        Reply("400 Bad Request", "text/plain", "unsupported Transfer-Encoding\n", true);
    const std::string noHost =
        Reply("400 Bad Request", "text/plain", "missing or repeated Host header\n", true);
    const std::string health = Reply("200 OK", "text/plain; charset=utf-8", "ok\n", false);
    const std::string closing = Reply("200 OK", "text/plain; charset=utf-8", "ok\n", true);
    const std::string notFound = Reply("404 Not Found", "text/plain", "not found\n", false);
    const struct {
        std::string request, answer;
    } cases[] = {
        {post + "gzip\r\n\r\n" + next, framing},
        {post + "chunked, identity\r\n\r\n" + next, framing},
        {post + "gzip\r\nContent-Length: 3\r\n\r\nabc" + next, framing},
        {post + "gzip\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + next, framing},
        {post + "chunked,chunked\r\n\r\n0\r\n\r\n" + next, framing},
        {"POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + next,
         "HTTP/1.0" +
             Reply("400 Bad Request", "text/plain", "unsupported Transfer-Encoding\n", false)
                 .substr(8)},
        {"POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 1\r\nTransfer-Encoding: chunked\r\n\r\n" +
             next,
         Reply("400 Bad Request", "text/plain", "malformed HTTP request\n", true)},
        {"GET /health HTTP/1.1\r\n\r\n" + next, noHost},
        {"GET /health HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n" + next, noHost},
        {"HEAD /health HTTP/1.1\r\nHost: h\r\n\r\n" + last,
         health.substr(0, health.size() - 3) + closing},
        {"HEAD /elsewhere HTTP/1.1\r\nHost: h\r\n\r\n" + last,
         notFound.substr(0, notFound.size() - 10) + closing},
        {"GET http://h/health HTTP/1.1\r\nHost: h\r\n\r\nGET HTTPS://h:1/health?x HTTP/1.1\r\n"
         "Host: h\r\nConnection: close\r\n\r\n",
         health + closing},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Exchange(server.Port(), c.request), c.answer) << c.request;
    // A single "chunked" is still read as such.
    const std::string chunked = Exchange(
        server.Port(),
        post + "chunked\r\nConnection: close\r\n\r\n5\r\nthis \r\na\r\nis not xml\r\n0\r\n\r\n");
    EXPECT_EQ(chunked, Exchange(server.Port(), Post("this is not xml", "Connection: close\r\n")));
    EXPECT_EQ(chunked.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << chunked;
}

TEST(ServeStrict, BodiesInProgressShareOneBudget) {
    TempDir dir;
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--body-budget", "1000", "--trace-file", "/dev/null", "--events",
                                   dir.Path() + "/e"}));
    const std::string busy =
        Reply("503 Service Unavailable", "text/plain",
              "request bodies in progress exceed 1000 bytes; try again later\n", true);
    const std::string request = Select("Sample Age") + std::string(800, ' ');
    RawClient holder;  // holds 800 bytes of the budget
    ASSERT_TRUE(holder.Connect(server.Port()) && holder.Send(Post(request).substr(0, 200)));
    const std::string chunked = "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
    const struct {
        std::string request, answer;
    } whileHeld[] = {
        {Post(std::string(300, 'x')), busy},
        {chunked + "12c\r\n", busy},
        {chunked + "64\r\n" + std::string(100, 'x') + "\r\nc8\r\n", busy},  // the second chunk
        {Post("x", "Expect: 100-continue\r\n").substr(0, 69),
         "HTTP/1.1 100 Continue\r\n\r\n(left open)"},
    };
    for (const auto &c : whileHeld) {
        RawClient client;
        ASSERT_TRUE(client.Connect(server.Port()) && client.Send(c.request));
        bool closed = false;
        const std::string answer = client.Read(seconds(1), "", &closed);
        EXPECT_EQ(answer + (closed ? "" : "(left open)"), c.answer);
    }
    ASSERT_TRUE(holder.Send(Post(request).substr(200)));
    EXPECT_NE(holder.Read(seconds(10), "</RESPONSE_TABLE>\n").find("<NAME>Sample Age</NAME>"),
              std::string::npos);
    // Everything came back: a body the size of the whole budget fits.
    EXPECT_EQ(Exchange(server.Port(), Post(std::string(1000, 'x'), "Connection: close\r\n"))
                  .rfind("HTTP/1.1 200 OK\r\n", 0),
              0u);
}

// The korvane_requests_total lines of a scrape.
std::string RequestCounts(const ServeProcess &server) {
    const std::string metrics = Curl(server.Url("/metrics")).body;
    std::string lines;
    for (std::size_t at = metrics.find("\nkorvane_requests_total{"); at != std::string::npos;
         at = metrics.find("\nkorvane_requests_total{", at + 1))
        lines += metrics.substr(at + 1, metrics.find('\n', at + 1) - at);
    return lines;
}

TEST(ServeStrict, MetricsLabelOnlyTablesThePluginAnswered) {
    TempDir dir;
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--trace-file", "/dev/null", "--events", dir.Path() + "/e"}));
    std::vector<std::string> bodies = {Select("Sample Age"),
                                       Select("Sample Age"),
                                       Select("Define"),
                                       Select("No Such"),
                                       "<tesselrequest><select></select></tesselrequest>",
                                       "not xml",
                                       "<!DOCTYPE x [<!ENTITY e \"v\">]>" + Select("Sample Age"),
                                       Select(std::string(1 << 20, 'n')),
                                       Select("bad \xff \r name")};
    for (int i = 0; i < 70; ++i) bodies.push_back(Select("Unknown " + std::to_string(i)));
    bodies.push_back(Select("Sample Age Detail"));
    for (const std::string &body : bodies)
        ASSERT_EQ(Exchange(server.Port(), Post(body, "Connection: close\r\n")).substr(0, 15),
                  "HTTP/1.1 200 OK");
    EXPECT_EQ(RequestCounts(server),
              "korvane_requests_total{table=\"Sample Age\"} 2\n"
              "korvane_requests_total{table=\"Sample Age Detail\"} 1\n"
              "korvane_requests_total{table=\"Tessel Define\"} 1\n"
              "korvane_requests_total{table=\"(doctype refused)\"} 1\n"
              "korvane_requests_total{table=\"(no table)\"} 1\n"
              "korvane_requests_total{table=\"(unknown table)\"} 72\n"
              "korvane_requests_total{table=\"(unparsable)\"} 2\n");

    // Names a plug-in answers with are bounded too (the stand-in answers any file).
    ServeProcess fake;
    ASSERT_TRUE(fake.Start(dir, {"--plugin", FakePlugin(), "--events", dir.Path() + "/f"}));
    std::string expected;
    // Refused first: too long, overlong UTF-8, a control character; then 64
    // slots, and one name too many.
    std::vector<std::string> names = {std::string(129, 'l'), "\xc0\xaf", "a\rb",
                                      "say &quot;hi&quot; \\ there"};
    for (int i = 100; i < 164; ++i) names.push_back("T" + std::to_string(i));
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string file = dir.Write(
            "t" + std::to_string(i), "<RESPONSE_TABLE><TBL_INFO><NAME>" + names[i] + "</NAME>");
        Curl(fake.Url(), {"--data-binary", Select(file)});
        if (i > 3 && i < 67) expected += "korvane_requests_total{table=\"" + names[i] + "\"} 1\n";
    }
    EXPECT_EQ(RequestCounts(fake),
              expected +
                  "korvane_requests_total{table=\"say \\\"hi\\\" \\\\ there\"} 1\n"
                  "korvane_requests_total{table=\"(other)\"} 4\n");
}

TEST(ServeStrict, TheTraceFileRotatesInWholeLinesAndReopensOnHangup) {
    TempDir dir;
    const std::string trace = dir.Path() + "/trace.log";
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--trace-file", trace, "--trace-max-size", "65536",
                                   "--trace-keep", "2", "--events", dir.Path() + "/e"}));
    // Each unreadable request leaves a line of about 3 kB with its text.
    auto mark = [](int i) { return "<R" + std::to_string(1000 + i) + "-"; };
    for (int i = 0; i < 60; ++i)
        Curl(server.Url(), {"--data-binary", mark(i) + std::string(3000, 'x') + "-E>"});
    std::string all;
    for (const std::string &file : {trace + ".2", trace + ".1", trace}) {
        const std::string text = ReadFile(file);
        // Full (the next line did not fit), yet within the bound.
        EXPECT_LE(text.size(), 65536u);
        EXPECT_TRUE(file == trace || text.size() > 65536u - 8192) << file;
        EXPECT_EQ(text.back(), '\n');
        all += text;
    }
    EXPECT_FALSE(std::filesystem::exists(trace + ".3"));
    // The oldest lines are gone, the rest are kept whole and once, in order.
    EXPECT_EQ(all.find(mark(0)), std::string::npos);
    for (int i = 1; i < 59; ++i) {
        const std::size_t at = all.find(mark(i));
        if (at == std::string::npos) continue;
        EXPECT_NE(all.find(mark(i + 1)), std::string::npos) << i;
        EXPECT_EQ(all.find(mark(i), at + 1), std::string::npos) << i;
        EXPECT_EQ(all.substr(at + mark(i).size() + 3000, 3), "-E>") << i;
    }
    // Moved away and signalled, the file starts anew.
    std::filesystem::rename(trace, trace + ".moved");
    kill(server.Pid(), SIGHUP);
    EXPECT_TRUE(WaitFor(
        [&] {
            Curl(server.Url(), {"--data-binary", mark(99)});
            return ReadFile(trace).find(mark(99)) != std::string::npos;
        },
        seconds(5)));
    EXPECT_EQ(ReadFile(trace + ".moved").find(mark(99)), std::string::npos);
    EXPECT_EQ(server.StopWith(SIGTERM, seconds(10)), 0);
}

}  // namespace
}  // namespace hosttest
