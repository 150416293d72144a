// korvane-host serve with a trust list of issuer keys made by `pki keygen`: a
// request signed with `pki credential` and `pki sign` and sent with curl is
// served; changed by one byte, or vouched for by an issuer not listed, it is
// refused as the host maps the plug-in's code. Only the served request leaves
// an execution record, and /metrics counts all three.
#include <gtest/gtest.h>

#include "host_test_support.h"

namespace hosttest {
namespace {

TEST(SecureServe, SignedRequestsOverHttp) {
    TempDir dir;
    const auto path = [&](const std::string &name) { return dir.Path() + "/" + name; };
    // The first line a pki subcommand prints.
    const auto pki = [](std::vector<std::string> args) {
        args.insert(args.begin(), "pki");
        const CommandResult result = Host(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return result.out.substr(0, result.out.find('\n'));
    };
    const std::string issuer = pki({"keygen", "--out", path("issuer")});
    pki({"keygen", "--out", path("stranger")});
    const std::string sender = pki({"keygen", "--bits", "2048", "--out", path("sender")});
    // The example request signed by the sender under a credential of `issuerName`.
    const auto signedFile = [&](const std::string &issuerName, const std::string &name) {
        const std::string credential = pki({"credential", "--issuer-key", path(issuerName + ".pem"),
                                            "--sender-key", sender, "--valid-for", "3600"});
        const CommandResult sign = Host({"pki", "sign", "--key", path("sender.pem"), "--credential",
                                         credential, Example("sample-age.xml")});
        EXPECT_EQ(sign.exitCode, 0) << sign.err;
        return dir.Write(name, sign.out);
    };
    const std::string valid = signedFile("issuer", "valid.xml");
    std::string tampered = ReadFile(valid);
    tampered[tampered.find("Sample Age") + 9] = 'f';
    const std::string untrusted = signedFile("stranger", "untrusted.xml");

    const std::string events = path("events.json");
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--trust-list", dir.Write("trust.txt", "# issuers\n" + issuer)}))
        << server.ErrorOutput();

    // file, HTTP status, body (dates blanked out)
    const std::tuple<std::string, int, std::string> exchanges[] = {
        {dir.Write("tampered.xml", tampered), 403, "invalid credentials or signature\n"},
        {untrusted, 401, "untrusted caller\n"},
        {valid, 200, InvokeAnswer(Example("sample-age.xml"))},
    };
    for (const auto &[file, status, body] : exchanges) {
        SCOPED_TRACE(file);
        const HttpResult reply = PostFile(server.Url(), file);
        EXPECT_EQ(reply.status, status);
        EXPECT_EQ(WithoutTimes(reply.body), body);
    }

    // The served request's record is the only one: the refused came first.
    const auto lines = [&] { return Lines(ReadFile(events)); };
    ASSERT_TRUE(WaitFor([&] { return !lines().empty(); }, seconds(10)));
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_NE(lines()[0].find("\"Method\":\"Sample Age\""), std::string::npos) << lines()[0];
    EXPECT_NE(lines()[0].find("\"TransactionId\":\"example-1\""), std::string::npos);

    const std::string metrics = Curl(server.Url("/metrics")).body;
    for (const char *line : {"korvane_invoke_results_total{result=\"0\"} 1\n",
                             "korvane_invoke_results_total{result=\"401\"} 1\n",
                             "korvane_invoke_results_total{result=\"405\"} 1\n",
                             "korvane_http_responses_total{code=\"401\"} 1\n",
                             "korvane_http_responses_total{code=\"403\"} 1\n",
                             "korvane_requests_total{table=\"Sample Age\"} 1\n",
                             "korvane_requests_total{table=\"(error)\"} 2\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line << metrics;
}

}  // namespace
}  // namespace hosttest
