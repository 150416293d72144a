// korvane-host serve: shutdown on signals, HTTPS, and start-up errors.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>

#include "host_test_support.h"

namespace hosttest {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

std::string Example(const std::string &name) {
    return SourceDir() + "/examples/requests/" + name;
}

TEST(ServeLifecycle, SigtermFinishesTheRequestInFlightThenTerminatesThePlugin) {
    TempDir dir;
    const std::string trace = dir.Path() + "/trace.log";
    const std::string events = dir.Path() + "/events.json";
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--trace-file", trace, "--events", events}));
    ASSERT_EQ(Curl(server.Url(), {"--data-binary", "@" + Example("sample-age.xml")}).status, 200);

    // One request whose body is still arriving, one idle keep-alive connection.
    const std::string request = ReadFile(Example("sample-age-detail.xml"));
    const std::size_t half = request.size() / 2;
    RawClient inFlight;
    ASSERT_TRUE(inFlight.Connect(server.Port()));
    // The go-ahead for the body shows that the server has the request's header.
    ASSERT_TRUE(
        inFlight.Send("POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nExpect: 100-continue\r\n"
                      "Content-Length: " +
                      std::to_string(request.size()) + "\r\n\r\n"));
    ASSERT_EQ(inFlight.ReadUntil("\r\n\r\n", seconds(5)), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(inFlight.Send(request.substr(0, half)));
    RawClient idle;
    ASSERT_TRUE(idle.Connect(server.Port()));

    kill(server.Pid(), SIGTERM);
    // The listener closes at once ...
    ASSERT_TRUE(WaitFor([&] { return ConnectionRefused(server.Port()); }, seconds(5)));
    // ... the idle connection is closed ...
    bool idleClosed = false;
    EXPECT_EQ(idle.ReadUntilClose(seconds(5), &idleClosed), "");
    EXPECT_TRUE(idleClosed);
    // ... and the request in flight is still answered, then closed.
    ASSERT_TRUE(inFlight.Send(request.substr(half)));
    bool closed = false;
    const std::string answer = inFlight.ReadUntilClose(seconds(10), &closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer.substr(0, 200);
    EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos);
    const std::size_t bodyStart = answer.find("\r\n\r\n");
    ASSERT_NE(bodyStart, std::string::npos);
    EXPECT_TRUE(WellFormed(answer.substr(bodyStart + 4)));
    EXPECT_NE(answer.find("<NAME>Sample Age Detail</NAME>"), std::string::npos);
    inFlight.Close();
    idle.Close();

    EXPECT_EQ(server.StopWith(0, seconds(10)), 0);
    EXPECT_EQ(server.RestOfOutput(), "stopped\n");
    const std::string log = ReadFile(trace);
    const std::size_t terminated =
        log.find("TesselEntry: TERMINATE tessel [NorloTessel] dispatch [Dorvex]\n");
    const std::size_t detached = log.find("Tessel DllMain: detached");
    ASSERT_NE(terminated, std::string::npos) << log;
    ASSERT_NE(detached, std::string::npos);
    EXPECT_LT(terminated, detached);
    // Both requests' events were written before the end.
    const std::string written = ReadFile(events);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2);
}

TEST(ServeLifecycle, SigintStopsAnIdleServer) {
    TempDir dir;
    ServeProcess server;
    ASSERT_TRUE(server.Start(
        dir, {"--trace-file", dir.Path() + "/trace.log", "--events", dir.Path() + "/events.json"}));
    EXPECT_EQ(server.StopWith(SIGINT, seconds(10)), 0);
    EXPECT_NE(ReadFile(dir.Path() + "/trace.log").find("TesselEntry: TERMINATE"),
              std::string::npos);
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
        EXPECT_EQ(reply.curlExit, 0);
        EXPECT_EQ(reply.status, 200);
        EXPECT_TRUE(WellFormed(reply.body));
        EXPECT_NE(reply.body.find("<NAME>Sample Age</NAME>"), std::string::npos);
    }
    // Older protocols are refused.
    const CommandResult old =
        RunCommand({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(server.Port()),
                    "-tls1_1", "-CAfile", cert},
                   "", seconds(20));
    EXPECT_NE(old.exitCode, 0);
    // Plain HTTP on the TLS port gets no answer, and the server carries on.
    const HttpResult plain = Curl(server.Url("/health"));
    EXPECT_NE(plain.curlExit, 0);
    EXPECT_EQ(Curl(server.Url("/health", "https"), {"--cacert", cert}).body, "ok\n");
    EXPECT_EQ(server.StopWith(SIGTERM, seconds(10)), 0);
}

TEST(ServeLifecycle, StartUpErrorsAreReportedWithExitCodes) {
    TempDir dir;
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        std::string message;
    };
    const Case cases[] = {
        {{"serve", "--bogus"}, 2, "korvane-host: unknown option '--bogus'"},
        {{"serve", "--listen", "nowhere"}, 2, "bad listen address 'nowhere'"},
        {{"serve", "--threads", "0"}, 2, "--threads needs a number from 1 to 1024"},
        {{"serve", "--tls-cert", "x.pem"}, 2, "--tls-cert and --tls-key go together"},
        {{"serve", "--listen", "127.0.0.1:0", "--tls-cert", dir.Path() + "/none.pem", "--tls-key",
          dir.Path() + "/none.pem"},
         1,
         "TLS set-up failed"},
        {{"serve", "--listen", "127.0.0.1:0", "--plugin", dir.Path() + "/libNothing.so"},
         1,
         "cannot load plug-in"},
        {{"serve", "--listen", "127.0.0.1:0", "--config", dir.Path() + "/missing.xml"},
         1,
         "cannot open " + dir.Path() + "/missing.xml"},
        {{"frobnicate"}, 2, "unknown command 'frobnicate'"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv = {HostPath()};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const CommandResult run = RunCommand(argv, "", seconds(20));
        EXPECT_EQ(run.exitCode, c.exitCode) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }

    // A port already in use.
    ServeProcess first;
    ASSERT_TRUE(
        first.Start(dir, {"--trace-file", "/dev/null", "--events", dir.Path() + "/e.json"}));
    const CommandResult busy =
        RunCommand({HostPath(), "serve", "--listen", "127.0.0.1:" + std::to_string(first.Port())},
                   "", seconds(20));
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_NE(busy.err.find("cannot listen on 127.0.0.1:" + std::to_string(first.Port())),
              std::string::npos)
        << busy.err;

    const CommandResult help = RunCommand({HostPath(), "serve", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: korvane-host serve [options]\n", 0), 0u);
}

}  // namespace
}  // namespace hosttest
