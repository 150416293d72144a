// korvane-host serve over plain HTTP, driven by curl and by raw sockets.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "host_test_support.h"

namespace hosttest {
namespace {

class ServeTest : public ::testing::Test {
  protected:
    // Serves with the plug-in tracing everything into a file and 4 workers.
    ServeProcess &Serve(std::vector<std::string> extra = {}) {
        const std::string config =
            m_dir.Write("config.xml",
                        "<KorvaneConfig><Tessel><DebugLevel>TSL_TRACE</DebugLevel></Tessel>"
                        "</KorvaneConfig>");
        extra.insert(extra.begin(), {"--config", config, "--threads", "4"});
        m_servers.push_back(std::make_unique<ServeProcess>());
        EXPECT_TRUE(m_servers.back()->Start(m_dir, extra)) << m_servers.back()->ErrorOutput();
        return *m_servers.back();
    }
    std::vector<std::string> EventLines() const { return Lines(ReadFile(m_events)); }

    TempDir m_dir;
    const std::string m_events = m_dir.Path() + "/events.json";
    std::vector<std::unique_ptr<ServeProcess>> m_servers;
};

TEST_F(ServeTest, SixteenConcurrentClientsGetCompleteAnswers) {
    const ServeProcess &server = Serve();
    const std::string files[] = {"sample-age.xml", "sample-age-detail.soap.xml", "define.xml",
                                 "sample-age.soap.xml"};
    std::vector<std::string> expected;
    for (const std::string &file : files) expected.push_back(InvokeAnswer(Example(file)));
    constexpr std::size_t kClients = 16, kEach = 4;
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (std::size_t c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (std::size_t i = c; i < c + kEach; ++i) {
                const HttpResult reply = PostFile(server.Url(), Example(files[i % 4]));
                failures += reply.status != 200 || WithoutTimes(reply.body) != expected[i % 4];
            }
        });
    }
    for (std::thread &client : clients) client.join();
    EXPECT_EQ(failures, 0);
    // Every request produced exactly one event.
    EXPECT_TRUE(WaitFor([&] { return EventLines().size() == kClients * kEach; }, seconds(10)))
        << EventLines().size();
    // Keep-alive: three requests on one connection.
    const std::string url = server.Url();
    EXPECT_EQ(RunCommand({"curl", "-sS", "--data-binary", "@" + Example("sample-age.xml"), "-w",
                          "%{num_connects} %{http_code}\n", "-o", "/dev/null", url, "-o",
                          "/dev/null", url, "-o", "/dev/null", url})
                  .out,
              "1 200\n0 200\n0 200\n");
}

TEST_F(ServeTest, TheDefaultBodyLimitIsSixteenMebibytes) {
    const ServeProcess &server = Serve();
    // Trailing blanks after the root element keep it the same request (with a
    // comment now and then: the reader takes at most 1 MiB between two "<").
    const std::string request = ReadFile(Example("sample-age.xml"));
    std::string padding((16 << 20) - request.size(), ' ');
    for (std::size_t at = 0; at + 7 < padding.size(); at += 1 << 19)
        padding.replace(at, 7, "<!---->");
    const std::string atLimit = m_dir.Write("at.xml", request + padding);
    EXPECT_EQ(WithoutTimes(PostFile(server.Url(), atLimit).body),
              InvokeAnswer(Example("sample-age.xml")));
    const HttpResult over =
        PostFile(server.Url(), m_dir.Write("over.xml", ReadFile(atLimit) + " "));
    EXPECT_EQ(std::to_string(over.status) + " " + over.body,
              "413 request body larger than 16777216 bytes\n");
    // A client that does not wait for "100 Continue" and pushes a large body
    // still reads the 413 rather than a reset.
    const std::string big = m_dir.Write("big.xml", std::string(20 << 20, 'x'));
    EXPECT_EQ(Curl(server.Url(), {"-H", "Expect:", "--data-binary", "@" + big}).status, 413);
}

TEST_F(ServeTest, SlowAndVanishingClientsDoNotHurtOthers) {
    const ServeProcess &server = Serve({"--timeout", "1"});
    std::vector<std::unique_ptr<RawClient>> slow;
    for (const char *bytes :
         {"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Len",
          "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 100\r\n\r\n<tessel", ""}) {
        slow.push_back(std::make_unique<RawClient>());
        ASSERT_TRUE(slow.back()->Connect(server.Port()) && slow.back()->Send(bytes));
    }
    // Clients that send a request and leave before the answer.
    for (int i = 0; i < 8; ++i) {
        RawClient client;
        ASSERT_TRUE(client.Connect(server.Port()));
        ASSERT_TRUE(client.Send(Post(ReadFile(Example("sample-age.xml")))));
    }
    // Meanwhile everybody else is served, and the slow ones are cut off.
    EXPECT_EQ(WithoutTimes(PostFile(server.Url(), Example("define.xml")).body),
              InvokeAnswer(Example("define.xml")));
    for (const auto &client : slow) {
        bool closed = false;
        const auto start = std::chrono::steady_clock::now();
        client->Read(seconds(5), "", &closed);
        EXPECT_TRUE(closed);
        EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(4));
    }
    EXPECT_EQ(Curl(server.Url("/health")).status, 200);
}

TEST_F(ServeTest, MetricsAndEventsCountWhatWasServed) {
    const ServeProcess &server = Serve();
    std::size_t bytesIn = 0, bytesOut = 0;
    const std::string unknown = m_dir.Write(
        "unknown.xml",
        "<tesselrequest><select><from><db name=\"No &quot;&amp; Such\"/></from></select>"
        "</tesselrequest>");
    for (const std::string &file :
         {Example("sample-age.xml"), Example("sample-age.xml"), Example("sample-age.xml"),
          Example("sample-age-detail.soap.xml"), Example("sample-age-detail.soap.xml"),
          Example("define.xml"), unknown}) {
        const HttpResult reply = PostFile(server.Url(), file);
        ASSERT_EQ(reply.status, 200);
        bytesIn += ReadFile(file).size();
        bytesOut += reply.body.size();
    }
    std::string metrics;
    int scrapes = 0;  // each scrape is counted once it has been answered
    ASSERT_TRUE(WaitFor(
        [&] {
            metrics = Curl(server.Url("/metrics")).body;
            ++scrapes;
            return metrics.find("korvane_events_delivered_total 7\n") != std::string::npos;
        },
        seconds(10)))
        << metrics;
    for (const std::string &line :
         Lines(Fill(Golden("metrics-lines.txt"), {{"RESPONSES", std::to_string(6 + scrapes)},
                                                  {"BYTES_IN", std::to_string(bytesIn)},
                                                  {"BYTES_OUT", std::to_string(bytesOut)}})))
        EXPECT_NE(metrics.find(line + "\n"), std::string::npos) << line;

    // The events: one JSON object per request, fields in the order the
    // plug-in added them; the date and the whole seconds taken vary.
    const std::vector<std::string> lines = EventLines();
    ASSERT_EQ(lines.size(), 7u);
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    utsname system{};
    uname(&system);
    std::string first = lines[0] + "\n";
    for (const std::string key : {"\"Date\":", "\"Execution Time (seconds)\":"}) {
        const std::size_t at = first.find(key) + key.size();
        first.replace(at, first.find_first_not_of("0123456789", at) - at, "N");
    }
    EXPECT_EQ(first,
              Fill(Golden("event-sample-age.json"),
                   {{"CS_BYTES", std::to_string(ReadFile(Example("sample-age.xml")).size())},
                    {"SC_BYTES", std::to_string(InvokeAnswer(Example("sample-age.xml")).size() -
                                                std::string("DATE").size() + 25)},
                    {"HOST", host},
                    {"RELEASE", system.release}}));
    EXPECT_NE(lines[6].find("\"cs_status\":404,\"Method\":\"No \\\"& Such\","), std::string::npos)
        << lines[6];
}

}  // namespace
}  // namespace hosttest
