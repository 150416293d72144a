// korvane-host serve against hostile clients: ambiguous framing, missing
// Host, HEAD and absolute-form targets, the body budget, metrics labels that
// clients cannot inflate, and the bounded trace file.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <sstream>

#include "host_test_support.h"

namespace hosttest {
namespace {

// What the server answers to `bytes` on one connection, and whether it closed it.
std::string Exchange(int port, const std::string &bytes, seconds wait = seconds(5)) {
    RawClient client;
    if (!client.Connect(port) || !client.Send(bytes)) return "(no connection)";
    bool closed = false;
    const std::string answer = client.Read(wait, "", &closed);
    return closed ? answer : answer + "(left open)";
}

std::string Select(const std::string &table) {
    return "<tesselrequest><select><from><db name=\"" + table +
           "\"/></from></select></tesselrequest>";
}

// Each case of strict-exchanges.txt: the request (line feeds sent as CRLF) on
// a connection of its own, and all the server answered (CRLF read as LF).
TEST(ServeStrict, AmbiguousFramingMissingHostHeadAndAbsoluteTargets) {
    TempDir dir;
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {}));
    std::istringstream lines(Golden("strict-exchanges.txt") + "@@@ request\n");
    std::string request, expected, *into = &request;
    for (std::string line; std::getline(lines, line);) {
        if (line == "@@@ request" && !request.empty()) {
            std::string answer = Exchange(server.Port(), request);
            for (std::size_t at; (at = answer.find("\r\n")) != std::string::npos;)
                answer.erase(at, 1);
            EXPECT_EQ(answer, expected) << request;
            request = expected = "";
        }
        into = line == "@@@ request" ? &request : line == "@@@ answer" ? &expected : into;
        if (line.rfind("@@@ ", 0) != 0) *into += line + (into == &request ? "\r\n" : "\n");
    }
}

TEST(ServeStrict, BodiesInProgressShareOneBudget) {
    TempDir dir;
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--body-budget", "1000"}));
    const std::string busy =
        "HTTP/1.1 503 Service Unavailable\r\nServer: korvane-host\r\nContent-Type: text/plain\r\n"
        "Connection: close\r\nContent-Length: 62\r\n\r\n"
        "request bodies in progress exceed 1000 bytes; try again later\n";
    const std::string request = Post(Select("Sample Age") + std::string(800, ' '), "");
    RawClient holder;  // holds 880 bytes of the budget
    ASSERT_TRUE(holder.Connect(server.Port()) && holder.Send(request.substr(0, 200)));
    const std::string chunked = "POST / HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::pair<std::string, std::string> whileHeld[] = {
        {Post(std::string(300, 'x')), busy},
        {chunked + "12c\r\n", busy},
        {chunked + "64\r\n" + std::string(100, 'x') + "\r\nc8\r\n", busy},  // the second chunk
        {Post("x", "Expect: 100-continue\r\n").substr(0, 69),
         "HTTP/1.1 100 Continue\r\n\r\n(left open)"},
    };
    for (const auto &[bytes, answer] : whileHeld)
        EXPECT_EQ(Exchange(server.Port(), bytes, seconds(1)), answer) << bytes;
    ASSERT_TRUE(holder.Send(request.substr(200)));
    EXPECT_NE(holder.Read(seconds(10), "</RESPONSE_TABLE>\n").find("<NAME>Sample Age</NAME>"),
              std::string::npos);
    // Everything came back: a body the size of the whole budget fits.
    EXPECT_EQ(Exchange(server.Port(), Post(std::string(1000, 'x'))).substr(0, 17),
              "HTTP/1.1 200 OK\r\n");
}

// The korvane_requests_total lines of a scrape.
std::string RequestCounts(const ServeProcess &server) {
    std::string lines;
    for (const std::string &line : Lines(Curl(server.Url("/metrics")).body))
        if (line.rfind("korvane_requests_total{", 0) == 0) lines += line + "\n";
    return lines;
}

TEST(ServeStrict, MetricsLabelOnlyTablesThePluginAnswered) {
    TempDir dir;
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {}));
    // Unknown names come first, so that real tables find the slots taken if they can be.
    std::vector<std::string> bodies = {Select(std::string(100000, 'n'))};
    for (int i = 0; i < 70; ++i) bodies.push_back(Select("Unknown " + std::to_string(i)));
    const std::string golden = Golden("metrics-labels.txt");
    const std::size_t counts = golden.find("@@@ counts");
    for (const std::string &line : Lines(golden.substr(0, counts))) bodies.push_back(line);
    for (const std::string &body : bodies)
        ASSERT_EQ(Exchange(server.Port(), Post(body)).substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_EQ(RequestCounts(server), golden.substr(golden.find('\n', counts) + 1));

    // Names a plug-in answers with are bounded too (the stand-in answers any
    // file). Refused first: too long, overlong UTF-8, a control character;
    // then 64 slots are taken, and one name is too many.
    ServeProcess fake;
    ASSERT_TRUE(fake.Start(dir, {"--plugin", FakePlugin()}));
    std::vector<std::string> names = {std::string(129, 'l'), "\xc0\xaf", "a\rb", "&quot;\\"};
    std::string expected;
    for (int i = 100; i < 164; ++i) {
        names.push_back("T" + std::to_string(i));
        expected +=
            i < 163 ? "korvane_requests_total{table=\"T" + std::to_string(i) + "\"} 1\n" : "";
    }
    for (const std::string &name : names)
        Curl(fake.Url(),
             {"--data-binary", Select(dir.Write("t", "<TBL_INFO><NAME>" + name + "</NAME>"))});
    EXPECT_EQ(RequestCounts(fake), "korvane_requests_total{table=\"\\\"\\\\\"} 1\n" + expected +
                                       "korvane_requests_total{table=\"(other)\"} 4\n");
}

TEST(ServeStrict, TheTraceFileRotatesInWholeLinesAndReopensOnHangup) {
    TempDir dir;
    const std::string trace = dir.Path() + "/trace.log";
    ServeProcess server;
    ASSERT_TRUE(server.Start(
        dir, {"--trace-file", trace, "--trace-max-size", "65536", "--trace-keep", "2"}));
    // Each unreadable request leaves a line of about 3 kB with its text.
    auto mark = [](int i) { return "<R" + std::to_string(1000 + i) + "-"; };
    for (int i = 0; i < 60; ++i)
        Curl(server.Url(), {"--data-binary", mark(i) + std::string(3000, 'x') + "-E>"});
    std::string all;
    for (const std::string &file : {trace + ".2", trace + ".1", trace}) {
        const std::string text = ReadFile(file);
        // Whole lines; full (the next line did not fit), yet within the bound.
        EXPECT_TRUE(text.size() <= 65536 && text.back() == '\n') << file;
        EXPECT_TRUE(file == trace || text.size() > 65536u - 8192) << file;
        all += text;
    }
    EXPECT_FALSE(std::filesystem::exists(trace + ".3"));
    // The oldest lines are gone, the rest are kept whole and once, in order.
    EXPECT_EQ(all.find(mark(0)), std::string::npos);
    for (std::size_t i = 1, at = 0, last = 0; i < 60; ++i) {
        if ((at = all.find(mark(i))) == std::string::npos && last == 0) continue;
        EXPECT_TRUE(at != std::string::npos && at > last && all.substr(at + 3007, 3) == "-E>" &&
                    all.find(mark(i), at + 1) == std::string::npos)
            << i;
        last = at;
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
}

}  // namespace
}  // namespace hosttest
