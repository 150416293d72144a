// korvane-host pki against the openssl command: the keys it writes, the
// credential blocks and the signature it makes are read and verified by
// openssl, and a request it signs passes the plug-in's check.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <string>

#include "base/clock.h"
#include "material.h"
#include "request/tsl_request.h"
#include "security/trust_store.h"
#include "support/harness.h"

namespace {

class NoVarnix : public tslSecurity::TrustListSource {
  public:
    int32_t CallVarnix(const std::string &, std::string &) override { return 1; }
};

std::string Pki(const std::string &args, int *status) {
    return sec::Run("'" NT_HOST_PATH "' pki " + args + " 2>/dev/null", status);
}

std::string Attribute(const std::string &text, const std::string &name) {
    const std::size_t start = text.find(name + "=\"") + name.size() + 2;
    return text.substr(start, text.find('"', start) - start);
}

TEST(Pki, OutputReadByOpensslAndAcceptedByTheCheck) {
    const std::string dir = sec::MaterialPath("pki") + "/";
    std::filesystem::create_directory(dir);
    int status = -1;
    const std::string issuer = Pki("keygen --out " + dir + "iss", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(issuer, nt::ReadFile(dir + "iss.pub"));
    EXPECT_EQ(sec::Run("cd " + dir + " && openssl rsa -in iss.pem -noout -text | head -1"),
              "Private-Key: (1024 bit, 2 primes)\n");
    EXPECT_EQ(
        sec::Run(
            "cd " + dir +
            " && openssl rsa -in iss.pem -RSAPublicKey_out -outform DER 2>/dev/null | base64 -w0") +
            "\n",
        issuer);
    struct stat info {};
    EXPECT_EQ(::stat((dir + "iss.pem").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const std::string sender = Pki("keygen --bits 2048 --out " + dir + "snd", &status);
    ASSERT_EQ(status, 0);
    const std::string senderKey = sender.substr(0, sender.size() - 1);

    const std::time_t before = std::time(nullptr);
    const std::string issued = Pki("credential --issuer-key " + dir + "iss.pem --sender-key " +
                                       senderKey + " --valid-for 60 --field1 A --field2 B",
                                   &status);
    const std::time_t after = std::time(nullptr);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(issued.back(), '\n');
    const std::string credential = issued.substr(0, issued.size() - 1);
    const std::string plain = sec::Run(
        "cd " + dir +
        " && openssl rsa -in iss.pem -pubout -out iss.pub.pem 2>/dev/null && printf " + credential +
        " | base64 -d | split -b 128 -d -a 3 - blk. && for b in blk.*; do openssl rsautl -verify "
        "-pubin -inkey iss.pub.pem -in $b 2>/dev/null; done");
    const std::string prefix = "A:B:" + senderKey + ":";
    ASSERT_EQ(plain.substr(0, prefix.size()), prefix);
    const long expiry = std::stol(plain.substr(prefix.size()));
    EXPECT_GE(expiry, before + 60);
    EXPECT_LE(expiry, after + 60);

    std::string unsigned_ = sec::Material("covered");
    unsigned_.replace(unsigned_.find("   "), 3, " ");
    {
        std::FILE *file = std::fopen((dir + "request.xml").c_str(), "wb");
        std::fputs(unsigned_.c_str(), file);
        std::fclose(file);
    }
    const std::string sign = "sign --key " + dir + "snd.pem --credential " + credential;
    const std::string request = Pki(sign + " " + dir + "request.xml", &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(Pki(sign + " - < " + dir + "request.xml", &status), request);
    EXPECT_EQ(request.substr(0, 46), "<tesselrequest credentials=\"" + credential.substr(0, 18));

    // openssl verifies the signature over what the check verifies.
    std::string covered = request;
    tslSecurity::RemoveRequestAttribute(covered, "credentials");
    tslSecurity::RemoveRequestAttribute(covered, "signature");
    {
        std::FILE *file = std::fopen((dir + "covered").c_str(), "wb");
        std::fwrite(covered.c_str(), 1, covered.size() + 1, file);
        std::fclose(file);
    }
    EXPECT_EQ(sec::Run("cd " + dir + " && printf " + Attribute(request, "signature") +
                       " | base64 -d > sig && openssl rsa -in snd.pem -pubout -out snd.pub.pem "
                       "2>/dev/null && openssl dgst -sha256 -verify snd.pub.pem -signature sig "
                       "covered"),
              "Verified OK\n");

    tslSecurity::TrustStore store;
    store.Absorb("<VAL>" + issuer.substr(0, issuer.size() - 1) + "</VAL>");
    NoVarnix varnix;
    tslRequest parsed("V02.000.02", "NorloTessel", "Dorvex", request.c_str());
    parsed.ParseRequest();
    EXPECT_EQ(tslSecurity::AuthenticateRequest(parsed, store, varnix, "NorloTessel", "Dorvex"), 0);

    // Refusals: nothing on standard output, the exit code says whose fault.
    nt::TempCwd cwd;
    std::FILE *file = std::fopen("signed.xml", "wb");
    std::fputs(request.c_str(), file);
    std::fclose(file);
    const std::string credentialOf = "credential --issuer-key " + dir;
    const std::pair<std::string, int> refusals[] = {
        {"keygen --out " + dir + "iss", 1},
        {"keygen --bits 512 --out x", 2},
        {credentialOf + "snd.pem --sender-key " + senderKey + " --valid-for 5", 1},
        {credentialOf + "iss.pem --sender-key QUJD --valid-for 5", 2},
        {credentialOf + "iss.pem --sender-key " + senderKey + " --valid-for 5 --field1 a:b", 2},
        {sign + " signed.xml", 1},
        {"sign --key " + dir + "iss.pub --credential QUJD " + dir + "request.xml", 1},
        {"sign --key " + dir + "snd.pem --credential 'QU\"JD' " + dir + "request.xml", 2},
        {sign + " " + dir + "iss.pub", 1},
    };
    for (const auto &[args, code] : refusals) {
        SCOPED_TRACE(args);
        EXPECT_EQ(Pki(args, &status), "");
        EXPECT_EQ(status, code);
    }
    EXPECT_FALSE(std::filesystem::exists("x.pem"));
}

}  // namespace
