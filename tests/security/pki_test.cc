// korvane-host pki against the openssl command: the keys it writes, the
// credential blocks and the signature it makes are read and verified by
// openssl, and a request it signs passes the plug-in's check.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "material.h"
#include "request/tsl_request.h"
#include "security/trust_store.h"
#include "support/harness.h"

#ifndef NT_HOST_PATH
#define NT_HOST_PATH ""  // built without the host program
#endif

namespace {

struct NoVarnix : tslSecurity::TrustListSource {
    int32_t CallVarnix(const std::string &, std::string &) override { return 1; }
};

std::string Pki(const std::string &args, int *status) {
    return sec::Run("'" NT_HOST_PATH "' pki " + args + " 2>/dev/null", status);
}

std::string Chomp(const std::string &line) {
    return line.substr(0, line.find('\n'));
}

TEST(Pki, OutputReadByOpensslAndAcceptedByTheCheck) {
    if (*NT_HOST_PATH == '\0') GTEST_SKIP() << "built without korvane-host";
    // keygen refuses to overwrite: a directory of its own for every run.
    static int run = 0;
    const std::string dir = sec::MaterialPath("pki" + std::to_string(run++)) + "/",
                      in = "cd " + dir + " && ";
    std::filesystem::create_directory(dir);
    int status = -1;
    const std::string issuer = Chomp(Pki("keygen --out " + dir + "iss", &status));
    ASSERT_EQ(status, 0);
    EXPECT_EQ(nt::ReadFile(dir + "iss.pub"), issuer + "\n");
    EXPECT_EQ(sec::Run(in + "openssl rsa -in iss.pem -RSAPublicKey_out -outform DER 2>/dev/null | "
                            "base64 -w0"),
              issuer);
    struct stat info {};
    EXPECT_EQ(::stat((dir + "iss.pem").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const std::string sender = Chomp(Pki("keygen --bits 2048 --out " + dir + "snd", &status));
    ASSERT_EQ(status, 0);

    // Each 128-byte block is one `openssl rsautl -verify` with the issuer's key.
    const std::time_t before = std::time(nullptr);
    const std::string credential =
        Chomp(Pki("credential --issuer-key " + dir + "iss.pem --sender-key " + sender +
                      " --valid-for 60 --field1 A --field2 B",
                  &status));
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(status, 0);
    const std::string plain = sec::Run(
        in + "openssl rsa -in iss.pem -pubout -out iss.pub.pem 2>/dev/null && printf " +
        credential +
        " | base64 -d | split -b 128 -d -a 3 - blk. && for b in blk.*; do openssl rsautl -verify "
        "-pubin -inkey iss.pub.pem -in $b 2>/dev/null; done");
    const std::string prefix = "A:B:" + sender + ":";
    ASSERT_EQ(plain.substr(0, prefix.size()), prefix);
    const long expiry = std::stol(plain.substr(prefix.size()));
    EXPECT_TRUE(expiry >= before + 60 && expiry <= after + 60) << expiry;

    std::string request = sec::Material("covered");
    std::ofstream(dir + "request.xml") << request.replace(request.find("   "), 3, " ");
    const std::string sign = "sign --key " + dir + "snd.pem --credential " + credential;
    const std::string output = Pki(sign + " " + dir + "request.xml", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(Pki(sign + " - < " + dir + "request.xml", &status), output);
    const std::string attributes = " credentials=\"" + credential + "\" signature=\"";
    ASSERT_EQ(output.substr(14, attributes.size()), attributes);
    const std::size_t quote = output.find('"', 14 + attributes.size());
    EXPECT_EQ(output.substr(0, 14) + output.substr(quote + 1), request);

    // openssl verifies the signature over what the check verifies.
    std::string covered = output;
    tslSecurity::RemoveRequestAttribute(covered, "credentials");
    tslSecurity::RemoveRequestAttribute(covered, "signature");
    std::ofstream(dir + "covered", std::ios::binary) << covered << '\0';
    EXPECT_EQ(sec::Run(in + "printf " +
                       output.substr(14 + attributes.size(), quote - 14 - attributes.size()) +
                       " | base64 -d > sig && openssl rsa -in snd.pem -pubout -out snd.pub.pem "
                       "2>/dev/null && openssl dgst -sha256 -verify snd.pub.pem -signature sig "
                       "covered"),
              "Verified OK\n");
    tslSecurity::TrustStore store;
    store.Absorb("<VAL>" + issuer + "</VAL>");
    NoVarnix varnix;
    tslRequest parsed("V02.000.02", "NorloTessel", "Dorvex", output.c_str());
    parsed.ParseRequest();
    EXPECT_EQ(tslSecurity::AuthenticateRequest(parsed, store, varnix, "NorloTessel", "Dorvex"), 0);

    // Refusals: nothing on standard output, the exit code says whose fault.
    std::ofstream(dir + "signed.xml") << output;
    const std::string issue = "credential --valid-for 5 --issuer-key " + dir;
    const std::pair<std::string, int> refusals[] = {
        {"keygen --out " + dir + "iss", 1},
        {issue + "snd.pem --sender-key " + sender, 1},
        {issue + "iss.pem --sender-key QUJD", 2},
        {issue + "iss.pem --sender-key " + sender + " --field1 a:b", 2},
        {sign + " " + dir + "signed.xml", 1},
        {"sign --key " + dir + "iss.pub --credential QUJD " + dir + "request.xml", 1},
        {sign + " " + dir + "iss.pub", 1},
    };
    for (const auto &[args, code] : refusals) {
        EXPECT_EQ(Pki(args, &status), "") << args;
        EXPECT_EQ(status, code) << args;
    }
}

}  // namespace
