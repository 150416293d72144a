// korvane-host serve: shutdown on signals, HTTPS, and start-up errors.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "host_test_support.h"

namespace hosttest {
namespace {

TEST(ServeLifecycle, SigtermFinishesTheRequestInFlightThenTerminatesThePlugin) {
    TempDir dir;
    const std::string trace = dir.Path() + "/trace.log";
    const std::string events = dir.Path() + "/events.json";
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--trace-file", trace, "--events", events}));
    ASSERT_EQ(PostFile(server.Url(), Example("sample-age.xml")).status, 200);

    // One request whose body is still arriving, one idle keep-alive connection.
    const std::string request = ReadFile(Example("sample-age-detail.xml"));
    const std::size_t half = request.size() / 2;
    RawClient inFlight;
    ASSERT_TRUE(inFlight.Connect(server.Port()));
    ASSERT_TRUE(inFlight.Send("POST / HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: " +
                              std::to_string(request.size()) + "\r\n\r\n"));
    // The go-ahead for the body shows that the server has the request's header.
    ASSERT_EQ(inFlight.Read(seconds(5), "\r\n\r\n"), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(inFlight.Send(request.substr(0, half)));
    RawClient idle;
    ASSERT_TRUE(idle.Connect(server.Port()));

    kill(server.Pid(), SIGTERM);
    // The listener closes at once, the idle connection is closed ...
    ASSERT_TRUE(WaitFor([&] { return !RawClient().Connect(server.Port()); }, seconds(5)));
    bool closed = false;
    EXPECT_EQ(idle.Read(seconds(5), "", &closed), "");
    EXPECT_TRUE(closed);
    // ... and the request in flight is still answered, then closed.
    ASSERT_TRUE(inFlight.Send(request.substr(half)));
    closed = false;
    const std::string answer = inFlight.Read(seconds(10), "", &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.substr(0, 200);
    EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos);
    const std::size_t bodyStart = answer.find("\r\n\r\n");
    ASSERT_NE(bodyStart, std::string::npos);
    EXPECT_TRUE(WellFormed(answer.substr(bodyStart + 4)));
    EXPECT_NE(answer.find("<NAME>Sample Age Detail</NAME>"), std::string::npos);

    std::string rest;
    EXPECT_EQ(server.StopWith(0, seconds(10), &rest), 0);
    EXPECT_EQ(rest, "stopped\n");
    const std::string log = ReadFile(trace);
    const std::size_t terminated =
        log.find("TesselEntry: TERMINATE tessel [NorloTessel] dispatch [Dorvex]\n");
    ASSERT_NE(terminated, std::string::npos) << log;
    EXPECT_LT(terminated, log.find("Tessel DllMain: detached"));
    // Both requests' events were written before the end.
    const std::string written = ReadFile(events);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2);

    // SIGINT stops an idle server the same way.
    ServeProcess idleServer;
    ASSERT_TRUE(idleServer.Start(dir, {"--trace-file", trace + ".2", "--events", events}));
    EXPECT_EQ(idleServer.StopWith(SIGINT, seconds(10)), 0);
    EXPECT_NE(ReadFile(trace + ".2").find("TesselEntry: TERMINATE"), std::string::npos);
}

TEST(ServeLifecycle, HttpsWithATestCertificate) {
    TempDir dir;
    const std::string cert = dir.Path() + "/cert.pem";
    const std::string key = dir.Path() + "/key.pem";
    const CommandResult made = RunCommand(
        {"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
         "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", cert});
    ASSERT_EQ(made.exitCode, 0) << made.err;

    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--tls-cert", cert, "--tls-key", key, "--trace-file",
                                   "/dev/null", "--events", dir.Path() + "/events.json"}))
        << server.ErrorOutput();
    EXPECT_EQ(server.FirstLine(),
              "listening on 127.0.0.1:" + std::to_string(server.Port()) + " (https)");
    for (const char *version : {"--tlsv1.2", "--tlsv1.3"}) {
        SCOPED_TRACE(version);
        const HttpResult reply = Curl(
            server.Url("/", "https"),
            {"--cacert", cert, version, "--data-binary", "@" + Example("sample-age.soap.xml")});
        EXPECT_EQ(reply.status, 200);
        EXPECT_NE(reply.body.find("<NAME>Sample Age</NAME>"), std::string::npos);
    }
    // Older protocols are refused.
    EXPECT_NE(RunCommand({"openssl", "s_client", "-connect",
                          "127.0.0.1:" + std::to_string(server.Port()), "-tls1_1", "-CAfile", cert},
                         "", seconds(20))
                  .exitCode,
              0);
    // Plain HTTP on the TLS port gets no answer, and the server carries on.
    EXPECT_NE(Curl(server.Url("/health")).curlExit, 0);
    EXPECT_EQ(Curl(server.Url("/health", "https"), {"--cacert", cert}).body, "ok\n");
    EXPECT_EQ(server.StopWith(SIGTERM, seconds(10)), 0);
}

TEST(ServeLifecycle, StartUpErrorsAreReportedWithExitCodes) {
    TempDir dir;
    ServeProcess first;
    ASSERT_TRUE(
        first.Start(dir, {"--trace-file", "/dev/null", "--events", dir.Path() + "/e.json"}));
    const std::string busy = "127.0.0.1:" + std::to_string(first.Port());
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string err;  // the start of standard error
    };
    const Case cases[] = {
        {{"--listen", "nowhere"}, 2, "bad listen address 'nowhere' (expected HOST:PORT)\n"},
        {{"--listen", "127.0.0.1:65536"}, 2, "bad port '65536' in listen address\n"},
        {{"--tls-cert", "x.pem"}, 2, "--tls-cert and --tls-key go together\n"},
        {{"--tls-cert", dir.Path() + "/none.pem", "--tls-key", dir.Path() + "/none.pem"},
         1,
         "TLS set-up failed"},
        {{"--plugin", dir.Path() + "/libNothing.so"}, 1, "cannot load plug-in"},
        {{"--config", dir.Path() + "/missing.xml"},
         1,
         "cannot open " + dir.Path() + "/missing.xml: No such file or directory\n"},
        {{"--listen", busy}, 1, "cannot listen on " + busy},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = {"serve", "--listen", "127.0.0.1:0"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CommandResult run = Host(args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.err;
        EXPECT_EQ(run.err.rfind("korvane-host: " + c.err, 0), 0u) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

}  // namespace
}  // namespace hosttest
