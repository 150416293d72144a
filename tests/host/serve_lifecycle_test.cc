// korvane-host serve: shutdown on signals, HTTPS and a busy port (the other
// start-up errors are in the command transcript).
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
    ASSERT_TRUE(server.Start(dir, {"--trace-file", trace}));
    ASSERT_EQ(PostFile(server.Url(), Example("sample-age.xml")).status, 200);

    {  // the server waits (up to 2 s) for its clients to close too
        // One request whose body is still arriving, one idle keep-alive connection.
        const std::string request = ReadFile(Example("sample-age-detail.xml"));
        const std::size_t half = request.size() / 2;
        RawClient inFlight;
        ASSERT_TRUE(inFlight.Connect(server.Port()));
        ASSERT_TRUE(
            inFlight.Send("POST / HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: " +
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
        EXPECT_EQ(WithoutTimes(answer), Golden("in-flight-answer.txt"));
    }
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
    ASSERT_TRUE(idleServer.Start(dir, {"--trace-file", trace + ".2"}));
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
    ASSERT_TRUE(server.Start(dir, {"--tls-cert", cert, "--tls-key", key})) << server.ErrorOutput();
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
    EXPECT_EQ(Curl(server.Url("/health")).status, 0);
    EXPECT_EQ(Curl(server.Url("/health", "https"), {"--cacert", cert}).body, "ok\n");
    // A second server cannot take the port.
    const std::string address = "127.0.0.1:" + std::to_string(server.Port());
    const CommandResult busy = Host({"serve", "--listen", address});
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_EQ(busy.err.rfind("korvane-host: cannot listen on " + address, 0), 0u) << busy.err;
    EXPECT_EQ(server.StopWith(SIGTERM, seconds(10)), 0);
}

}  // namespace
}  // namespace hosttest
