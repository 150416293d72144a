// korvane-host serve over plain HTTP, driven by curl and by raw sockets.
#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <thread>

#include "host_test_support.h"

namespace hosttest {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const char *const kTraceConfig =
    "<?xml version=\"1.0\"?><KorvaneConfig><Tessel><DebugLevel>TSL_TRACE</DebugLevel>"
    "</Tessel></KorvaneConfig>";

std::string Example(const std::string &name) {
    return SourceDir() + "/examples/requests/" + name;
}

// What `korvane-host invoke` answers for the request file, DATE blanked out.
std::string InvokeAnswer(const std::string &file, bool raw = false) {
    std::vector<std::string> argv = {HostPath(), "invoke", "--trace-file", "/dev/null"};
    if (raw) argv.push_back("--raw");
    argv.push_back(file);
    return WithoutDate(RunCommand(argv).out);
}

std::string Post(const std::string &path, const std::string &body) {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n" +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class ServeTest : public ::testing::Test {
  protected:
    void StartServer(std::vector<std::string> extra = {}) {
        m_events = m_dir.Path() + "/events.json";
        m_trace = m_dir.Path() + "/trace.log";
        std::vector<std::string> args = {"--config",     m_dir.Write("config.xml", kTraceConfig),
                                         "--events",     m_events,
                                         "--trace-file", m_trace,
                                         "--threads",    "4"};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_TRUE(m_server.Start(m_dir, args)) << m_server.ErrorOutput();
    }

    std::vector<std::string> EventLines() const {
        std::vector<std::string> lines;
        const std::string text = ReadFile(m_events);
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

    TempDir m_dir;
    ServeProcess m_server;
    std::string m_events;
    std::string m_trace;
};

TEST_F(ServeTest, BareAndSoapRequestsGetThePluginsDocument) {
    StartServer();
    for (const char *name : {"sample-age.xml", "sample-age.soap.xml", "sample-age-detail.xml",
                             "define.soap.xml", "describe.xml"}) {
        SCOPED_TRACE(name);
        const HttpResult reply =
            Curl(m_server.Url("/tessel"), {"--data-binary", "@" + Example(name)});
        ASSERT_EQ(reply.curlExit, 0);
        EXPECT_EQ(reply.status, 200);
        EXPECT_NE(reply.headers.find("Content-Type: text/xml; charset=\"utf-8\"\r\n"),
                  std::string::npos)
            << reply.headers;
        EXPECT_NE(
            reply.headers.find("Content-Length: " + std::to_string(reply.body.size()) + "\r\n"),
            std::string::npos);
        EXPECT_TRUE(WellFormed(reply.body));
        EXPECT_EQ(WithoutDate(reply.body), InvokeAnswer(Example(name)));
        const bool soap = std::string(name).find(".soap.") != std::string::npos;
        EXPECT_EQ(reply.body.find("<soap:Envelope") != std::string::npos, soap);
    }

    // Text that is not XML still gets the plug-in's (empty) table.
    const HttpResult garbage = Curl(m_server.Url(), {"--data-binary", "this is not xml"});
    EXPECT_EQ(garbage.status, 200);
    EXPECT_TRUE(WellFormed(garbage.body));
    EXPECT_NE(garbage.body.find("<NAME></NAME>"), std::string::npos);

    const HttpResult health = Curl(m_server.Url("/health"));
    EXPECT_EQ(health.status, 200);
    EXPECT_EQ(health.body, "ok\n");
    EXPECT_EQ(Curl(m_server.Url("/elsewhere")).status, 404);
    const HttpResult put = Curl(m_server.Url(), {"-X", "PUT", "--data-binary", "x"});
    EXPECT_EQ(put.status, 405);
    EXPECT_NE(put.headers.find("Allow: GET, POST\r\n"), std::string::npos);
}

TEST_F(ServeTest, KeepAliveServesSeveralRequestsOnOneConnection) {
    StartServer();
    const std::string url = m_server.Url();
    const CommandResult run =
        RunCommand({"curl", "-s", "-S", "--data-binary", "@" + Example("sample-age.xml"), "-w",
                    "%{num_connects} %{http_code}\n", "-o", "/dev/null", url, "-o", "/dev/null",
                    url, "-o", "/dev/null", url});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "1 200\n0 200\n0 200\n");
}

TEST_F(ServeTest, SixteenConcurrentClientsGetCompleteAnswers) {
    StartServer();
    const std::vector<std::string> files = {"sample-age.xml", "sample-age-detail.soap.xml",
                                            "define.xml", "sample-age.soap.xml"};
    std::map<std::string, std::string> expected;
    for (const std::string &file : files) expected[file] = InvokeAnswer(Example(file));

    constexpr int kClients = 16, kEach = 4;
    std::vector<std::vector<std::string>> failures(kClients);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            for (int i = 0; i < kEach; ++i) {
                const std::string &file = files[static_cast<std::size_t>(c + i) % files.size()];
                const HttpResult reply =
                    Curl(m_server.Url(), {"--data-binary", "@" + Example(file)});
                if (reply.status != 200 || WithoutDate(reply.body) != expected[file])
                    failures[static_cast<std::size_t>(c)].push_back(file + ": status " +
                                                                    std::to_string(reply.status));
            }
        });
    }
    for (std::thread &client : clients) client.join();
    for (int c = 0; c < kClients; ++c) EXPECT_TRUE(failures[static_cast<std::size_t>(c)].empty());

    // Every request produced exactly one event.
    EXPECT_TRUE(WaitFor([&] { return EventLines().size() == kClients * kEach; }, seconds(10)))
        << EventLines().size();
}

TEST_F(ServeTest, BodiesOverTheLimitAreRefusedWith413) {
    StartServer({"--body-limit", "1024"});
    const std::string request = ReadFile(Example("sample-age.xml"));
    ASSERT_LT(request.size(), 1024u);
    // Trailing blanks after the root element are allowed, so the padded
    // request is still the same request.
    const std::string atLimit =
        m_dir.Write("at-limit.xml", request + std::string(1024 - request.size(), ' '));
    const std::string overLimit = m_dir.Write("over-limit.xml", ReadFile(atLimit) + " ");

    const HttpResult fits = Curl(m_server.Url(), {"--data-binary", "@" + atLimit});
    EXPECT_EQ(fits.status, 200);
    EXPECT_EQ(WithoutDate(fits.body), InvokeAnswer(Example("sample-age.xml")));

    const HttpResult refused = Curl(m_server.Url(), {"--data-binary", "@" + overLimit});
    EXPECT_EQ(refused.status, 413);
    EXPECT_EQ(refused.body, "request body larger than 1024 bytes\n");
    EXPECT_NE(refused.headers.find("Connection: close\r\n"), std::string::npos);

    // A client that does not wait for "100 Continue" and pushes a large body
    // still reads the 413 rather than a reset.
    const std::string big = m_dir.Write("big.xml", std::string(4 << 20, 'x'));
    const HttpResult pushed = Curl(m_server.Url(), {"-H", "Expect:", "--data-binary", "@" + big});
    EXPECT_EQ(pushed.status, 413);
    EXPECT_EQ(Curl(m_server.Url(), {"--data-binary", "@" + atLimit}).status, 200);
}

TEST_F(ServeTest, DefaultLimitIsSixteenMebibytes) {
    StartServer();
    const std::string request = ReadFile(Example("sample-age.xml"));
    const std::size_t limit = std::size_t{16} << 20;
    const std::string atLimit =
        m_dir.Write("at.xml", request + std::string(limit - request.size(), ' '));
    const std::string overLimit = m_dir.Write("over.xml", ReadFile(atLimit) + " ");
    EXPECT_EQ(Curl(m_server.Url(), {"--data-binary", "@" + atLimit}).status, 200);
    EXPECT_EQ(Curl(m_server.Url(), {"--data-binary", "@" + overLimit}).status, 413);
}

TEST_F(ServeTest, SlowClientsAreCutOffWithoutBlockingOthers) {
    StartServer({"--timeout", "1"});
    RawClient halfHeader;
    ASSERT_TRUE(halfHeader.Connect(m_server.Port()));
    ASSERT_TRUE(halfHeader.Send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Len"));
    RawClient halfBody;
    ASSERT_TRUE(halfBody.Connect(m_server.Port()));
    ASSERT_TRUE(
        halfBody.Send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\n<tessel"));
    RawClient idle;
    ASSERT_TRUE(idle.Connect(m_server.Port()));

    // Meanwhile everybody else is served.
    const HttpResult other =
        Curl(m_server.Url(), {"--data-binary", "@" + Example("sample-age.xml")});
    EXPECT_EQ(other.status, 200);
    EXPECT_TRUE(WellFormed(other.body));

    for (RawClient *client : {&halfHeader, &halfBody, &idle}) {
        bool closed = false;
        const auto start = std::chrono::steady_clock::now();
        client->ReadUntilClose(seconds(5), &closed);
        EXPECT_TRUE(closed);
        EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(4));
    }
    EXPECT_EQ(Curl(m_server.Url("/health")).status, 200);
}

TEST_F(ServeTest, GarbageAndVanishingClientsDoNotHurtTheServer) {
    StartServer();
    // The start of a TLS handshake, NUL bytes included.
    static const char kTlsHello[] = "\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03garbage\r\n\r\n";
    for (const std::string &garbage :
         {std::string(kTlsHello, sizeof kTlsHello - 1), std::string("HELLO THERE\r\n\r\n"),
          std::string("GET / HTTP/1.1\r\nthis is no header line\r\n\r\n"),
          std::string("POST / HTTP/1.1\r\nContent-Length: twelve\r\n\r\n")}) {
        RawClient client;
        ASSERT_TRUE(client.Connect(m_server.Port()));
        ASSERT_TRUE(client.Send(garbage));
        bool closed = false;
        const std::string answer = client.ReadUntilClose(seconds(5), &closed);
        EXPECT_EQ(answer.rfind("HTTP/1.1 400 Bad Request\r\n", 0), 0u) << answer;
        EXPECT_TRUE(closed);
    }
    // Clients that send a request and leave before the answer.
    for (int i = 0; i < 8; ++i) {
        RawClient client;
        ASSERT_TRUE(client.Connect(m_server.Port()));
        ASSERT_TRUE(client.Send(Post("/", ReadFile(Example("sample-age.xml")))));
    }
    const HttpResult after = Curl(m_server.Url(), {"--data-binary", "@" + Example("define.xml")});
    EXPECT_EQ(after.status, 200);
    EXPECT_TRUE(WellFormed(after.body));
}

TEST_F(ServeTest, RawModePassesThePluginsBytesThrough) {
    m_dir.Write("raw.xml", "<KorvaneConfig><Tessel><Raw>true</Raw></Tessel></KorvaneConfig>");
    ASSERT_TRUE(
        m_server.Start(m_dir, {"--config", m_dir.Path() + "/raw.xml", "--events",
                               m_dir.Path() + "/events.json", "--trace-file", "/dev/null"}));
    const std::string expectedBody = InvokeAnswer(Example("sample-age.soap.xml"));

    RawClient client;
    ASSERT_TRUE(client.Connect(m_server.Port()));
    ASSERT_TRUE(client.Send(Post("/", ReadFile(Example("sample-age.soap.xml")))));
    bool closed = false;
    const std::string bytes = client.ReadUntilClose(seconds(10), &closed);
    EXPECT_TRUE(closed);  // the plug-in's header says "Connection: close"
    static const std::regex kHeader(
        "HTTP/1\\.1 200 OK\r\n"
        "Date: [A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} GMT\r\n"
        "Server: Korvane\r\n"
        "Connection: close\r\n"
        "Content-Type: text/xml; charset=\"utf-8\"\r\n"
        "Content-Length: (\\d+)\r\n\r\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(bytes, match, kHeader, std::regex_constants::match_continuous))
        << bytes.substr(0, 300);
    const std::string body = bytes.substr(static_cast<std::size_t>(match.length(0)));
    EXPECT_EQ(std::to_string(body.size()), match[1].str());
    EXPECT_EQ(WithoutDate(body), expectedBody);

    // curl agrees: complete body, nothing of ours added.
    const HttpResult reply =
        Curl(m_server.Url(), {"--data-binary", "@" + Example("sample-age.xml")});
    EXPECT_EQ(reply.curlExit, 0);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers.find("korvane-host"), std::string::npos);
    EXPECT_EQ(WithoutDate(reply.body), InvokeAnswer(Example("sample-age.xml")));
}

TEST_F(ServeTest, MetricsAndEventsCountWhatWasServed) {
    StartServer();
    struct Sent {
        const char *file;
        int times;
    };
    const Sent sent[] = {
        {"sample-age.xml", 3}, {"sample-age-detail.soap.xml", 2}, {"define.xml", 1}};
    std::size_t bytesIn = 0, bytesOut = 0;
    for (const Sent &s : sent) {
        for (int i = 0; i < s.times; ++i) {
            const HttpResult reply = Curl(m_server.Url(), {"--data-binary", "@" + Example(s.file)});
            ASSERT_EQ(reply.status, 200);
            bytesIn += ReadFile(Example(s.file)).size();
            bytesOut += reply.body.size();
        }
    }
    const std::string unknown =
        "<tesselrequest><select><from><db name=\"No &amp; Such\"/></from></select></tesselrequest>";
    const HttpResult missing = Curl(m_server.Url(), {"--data-binary", unknown});
    EXPECT_EQ(missing.status, 200);
    EXPECT_NE(missing.body.find("<CODE>404</CODE>"), std::string::npos);
    bytesIn += unknown.size();
    bytesOut += missing.body.size();
    ASSERT_EQ(Curl(m_server.Url("/health")).status, 200);

    std::string metrics;
    int scrapes = 0;  // each scrape is counted once it has been answered
    ASSERT_TRUE(WaitFor(
        [&] {
            metrics = Curl(m_server.Url("/metrics")).body;
            ++scrapes;
            return metrics.find("korvane_events_delivered_total 7\n") != std::string::npos;
        },
        seconds(10)))
        << metrics;
    for (const std::string &line : std::vector<std::string>{
             "korvane_requests_total{table=\"Define\"} 1\n",
             "korvane_requests_total{table=\"No & Such\"} 1\n",
             "korvane_requests_total{table=\"Sample Age\"} 3\n",
             "korvane_requests_total{table=\"Sample Age Detail\"} 2\n",
             "korvane_invoke_results_total{result=\"0\"} 7\n",
             "korvane_http_responses_total{code=\"200\"} " + std::to_string(7 + scrapes) + "\n",
             "korvane_invoke_duration_seconds_bucket{le=\"+Inf\"} 7\n",
             "korvane_invoke_duration_seconds_count 7\n", "korvane_events_unreadable_total 0\n",
             "korvane_events_dropped_total 0\n",
             "korvane_request_bytes_total " + std::to_string(bytesIn) + "\n",
             "korvane_response_bytes_total " + std::to_string(bytesOut) + "\n",
             "# TYPE korvane_invoke_duration_seconds histogram\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line;

    // The events file: one JSON object per request, fields in the order the
    // plug-in added them.
    const std::vector<std::string> lines = EventLines();
    ASSERT_EQ(lines.size(), 7u);
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    utsname system{};
    uname(&system);
    // Date and the whole seconds taken are the only fields that vary.
    const std::string first = std::regex_replace(
        std::regex_replace(lines[0], std::regex(R"("Date":\d+)"), "\"Date\":NOW"),
        std::regex(R"re("Execution Time \(seconds\)":[01],)re"), "\"Execution Time (seconds)\":S,");
    EXPECT_EQ(first,
              "{\"Remote Client\":\"127.0.0.1\",\"c_ip\":\"127.0.0.1\","
              "\"Taxonomy\":\"Network Access.AppServer.Tessel.S.I\",\"cs_bytes\":" +
                  std::to_string(ReadFile(Example("sample-age.xml")).size()) + ",\"sc_bytes\":" +
                  std::to_string(InvokeAnswer(Example("sample-age.xml")).size() -
                                 std::string("DATE").size() + 25) +
                  ",\"cs_method\":\"Morv\",\"cs_status\":200,\"Method\":\"Sample Age\","
                  "\"EventLog\":\"com.vkn.Morvium.Tessel\",\"Return Code\":0,"
                  "\"Execution Time (seconds)\":S,\"TransactionId\":\"example-1\","
                  "\"Hostname\":\"" +
                  std::string(host) +
                  "\",\"TesselName\":\"NorloTessel\","
                  "\"Status\":\"Success\",\"Date\":NOW,\"OS\":\"Linux " +
                  std::string(system.release) + "\"}");
    EXPECT_NE(lines[6].find("\"Method\":\"No & Such\""), std::string::npos);
    EXPECT_NE(lines[6].find("\"cs_status\":404"), std::string::npos);
}

}  // namespace
}  // namespace hosttest
