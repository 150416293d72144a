// korvane-host pki and serve with a trust list of issuer keys made by `pki
// keygen`: a request signed with `pki credential` and `pki sign` and sent with
// curl is served with the credential's fields; changed by one byte, or vouched
// for by an issuer not listed, it is refused as the host maps the plug-in's
// code. Only the served request leaves an execution record, and /metrics
// counts all three.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

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
    EXPECT_EQ(ReadFile(path("issuer.pub")), issuer + "\n");
    // PKCS#1 DER of a 1024-bit key (the check takes SubjectPublicKeyInfo too).
    EXPECT_EQ(issuer.substr(0, 9), "MIGJAoGBA") << issuer;
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(path("issuer.pem")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    pki({"keygen", "--out", path("stranger")});
    const std::string sender = pki({"keygen", "--bits", "2048", "--out", path("sender")});
    // The example request signed by the sender under a credential of `issuerName`.
    std::string credential;
    const auto signedFile = [&](const std::string &issuerName, const std::string &name) {
        credential = pki({"credential", "--issuer-key", path(issuerName + ".pem"), "--sender-key",
                          sender, "--valid-for", "3600"});
        const CommandResult sign = Host({"pki", "sign", "--key", path("sender.pem"), "--credential",
                                         credential, Example("sample-age.xml")});
        EXPECT_EQ(sign.exitCode, 0) << sign.err;
        return dir.Write(name, sign.out);
    };
    const std::time_t before = std::time(nullptr);
    const std::string valid = signedFile("issuer", "valid.xml");
    const std::time_t after = std::time(nullptr);
    // The attributes go on the start tag, the rest is left as it was; "-" signs standard input.
    const std::string request = ReadFile(Example("sample-age.xml")), signedText = ReadFile(valid);
    const std::string attributes = " credentials=\"" + credential + "\" signature=\"";
    const std::size_t tag = request.find("<tesselrequest") + 14;
    ASSERT_EQ(signedText.substr(tag, attributes.size()), attributes);
    const std::size_t quote = signedText.find('"', tag + attributes.size());
    EXPECT_EQ(signedText.substr(0, tag) + signedText.substr(quote + 1), request);
    EXPECT_EQ(
        Host({"pki", "sign", "--key", path("sender.pem"), "--credential", credential, "-"}, request)
            .out,
        signedText);
    std::string tampered = signedText;
    tampered[tampered.find("Sample Age") + 9] = 'f';
    const std::string untrusted = signedFile("stranger", "untrusted.xml");

    // Refusals print nothing; the exit code says whose fault (2: the arguments').
    const auto issue = [&](const std::string &key, const std::string &senderKey) {
        return std::vector<std::string>{"pki",          "credential", "--valid-for",  "5",
                                        "--issuer-key", path(key),    "--sender-key", senderKey};
    };
    std::vector<std::string> colon = issue("issuer.pem", sender);
    colon.insert(colon.end(), {"--field1", "a:b"});
    const std::pair<std::vector<std::string>, int> refusals[] = {
        {{"pki", "keygen", "--out", path("issuer")}, 1},
        {issue("sender.pem", sender), 1},
        {issue("issuer.pem", "QUJD"), 2},
        {colon, 2},
        {{"pki", "sign", "--key", path("issuer.pub"), "--credential", "QUJD",
          Example("sample-age.xml")},
         1},
        {{"pki", "sign", "--key", path("sender.pem"), "--credential", credential, valid}, 1},
        {{"pki", "sign", "--key", path("sender.pem"), "--credential", credential,
          path("issuer.pub")},
         1},
    };
    for (const auto &[args, code] : refusals) {
        const CommandResult result = Host(args);
        EXPECT_EQ(result.exitCode, code) << args[1] << " " << args.back();
        EXPECT_EQ(result.out, "") << args[1] << " " << args.back();
    }

    const std::string events = path("events.json");
    ServeProcess server;
    ASSERT_TRUE(server.Start(dir, {"--trace-file", path("trace.log"), "--trust-list",
                                   dir.Write("trust.txt", "# issuers\n" + issuer)}))
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

    // The plug-in runs the request with the credential's fields, expiring when asked.
    const std::string trace = ReadFile(path("trace.log")),
                      fields = "Credentials [issuer:sender:" + sender + ":";
    ASSERT_NE(trace.find(fields), std::string::npos) << trace;
    const long expiry = std::stol(trace.substr(trace.find(fields) + fields.size()));
    EXPECT_TRUE(expiry >= before + 3600 && expiry <= after + 3600) << expiry;

    const std::string metrics = Curl(server.Url("/metrics")).body;
    for (const std::string &line : Lines(Golden("secure-metrics-lines.txt")))
        EXPECT_NE(metrics.find(line + "\n"), std::string::npos) << line << metrics;
}

}  // namespace
}  // namespace hosttest
