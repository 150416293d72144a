// The credential and signature check of a request, against keys, credential
// blocks and signatures made with the openssl command: the code, the log
// lines and the rewritten credentials; the trust list's refresh and its
// readers while it grows.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/trace_log.h"
#include "material.h"
#include "request/tsl_request.h"
#include "security/trust_store.h"
#include "support/harness.h"

namespace {

using sec::Material;
using tslSecurity::TrustStore;

std::atomic<std::time_t> g_now{sec::kExpiry};
std::time_t Now() {
    return g_now.load();
}

// Captures the trace log and the clock for one test.
class Capture {
  public:
    Capture() {
        TslSetLevel(TSL_TRACE);
        TslSetDebugSink(Collect, this);
        TslSetClock(Now);
    }
    ~Capture() {
        TslSetDebugSink(nullptr, nullptr);
        TslSetClock(nullptr);
    }
    // The lines since the last call, without the library's error-stack dump
    // (its texts are OpenSSL's), whose line count goes to `dumped`.
    std::string Take(int *dumped = nullptr) {
        std::string kept;
        int count = 0;
        for (std::size_t pos = 0, end; pos < m_log.size(); pos = end + 1) {
            end = m_log.find('\n', pos);
            const std::string line = m_log.substr(pos, end - pos + 1);
            if (line.find("] Error: ") != std::string::npos)
                ++count;
            else
                kept += line;
        }
        m_log.clear();
        if (dumped != nullptr) *dumped = count;
        return nt::Normalised(kept);
    }

  private:
    static void Collect(void *self, const char *line, std::size_t size) {
        static_cast<Capture *>(self)->m_log.append(line, size);
    }
    std::string m_log;
};

// Answers every call with `status` and `response`; remembers the tables asked for.
class FakeVarnix : public tslSecurity::TrustListSource {
  public:
    int32_t CallVarnix(const std::string &request, std::string &response) override {
        const bool varnix = request.find(">Varnix<") != std::string::npos;
        calls += request.find("\"TrustList\"") != std::string::npos      ? "TrustList;"
                 : request.find("\"GetPublicKey\"") != std::string::npos ? "GetPublicKey;"
                                                                         : "?;";
        if (!varnix) calls += "not to Varnix;";
        response = answer;
        return status;
    }
    int32_t status = 1;
    std::string answer, calls;
};

std::string Val(const std::string &value) {
    return "<REC><VAL>" + value + "</VAL></REC>\n";
}

// The prepared request with `attributes` where the two were cut out.
std::string Request(const std::string &attributes, const std::string &from = "Define",
                    const std::string &to = "Define") {
    std::string text = Material("covered");
    text.replace(text.find("  "), 2, attributes);
    text.replace(text.find(from), from.size(), to);
    return text;
}

std::string Signed(const std::string &credential, const std::string &signature) {
    return Request(" credentials=\"" + credential + "\" signature=\"" + signature + "\"");
}

std::string Base64(const std::string &bytes) {
    const std::string path = sec::MaterialPath("scratch.bin");
    FILE *file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return sec::Run("base64 -w0 " + path);
}

// Runs the check on a parsed request: the code, with `credentials` the field after it.
int32_t Check(const std::string &text, TrustStore &store, tslSecurity::TrustListSource &source,
              std::string *credentials = nullptr) {
    tslRequest request("V02.000.02", "NorloTessel", "Dorvex", text.c_str());
    request.ParseRequest();
    const int32_t code =
        tslSecurity::AuthenticateRequest(request, store, source, "NorloTessel", "Dorvex");
    if (credentials != nullptr) *credentials = request.m_credentials.str();
    return code;
}

const std::string kErr = "ERROR: [tid] Tessel::Invoke [NorloTessel->Dorvex] ";

struct Case {
    const char *name;
    std::string request;
    std::time_t now;
    int32_t code;
    std::string log, credentials;
};

TEST(Credentials, CheckAnswersWithCodeLogAndRewrittenCredentials) {
    const std::string key = Material("sender.pub"), sig = Material("covered.sig");
    const std::string valid = Material("valid.cred"), bin = Material("valid.bin");
    std::string corrupt = bin;
    corrupt[200] ^= 0x01;  // inside the second of four blocks
    const std::string expiry = std::to_string(sec::kExpiry);
    const std::string premature =
        "TRACE: [tid] tslUtil::BinarySize: Premature end of base64 string: \"QQ\" \n";
    const Case cases[] = {
        {"valid", Signed(valid, sig), sec::kExpiry, 0, "", "f1:f2:" + key + ":" + expiry},
        {"expired", Signed(valid, sig), sec::kExpiry + 1, 405,
         "TRACE: [tid] tslUtil::ValidateCredential: cred expired\n" + kErr + "bad credentials\n",
         ""},
        {"strtok fields", Signed(Material("colons.cred"), sig), 0, 0, "",
         "a:b:" + key + ":" + expiry},
        {"three fields", Signed(Material("three.cred"), sig), 0, 405, kErr + "bad credentials\n",
         ""},
        {"garbage", Signed(Material("garbage.cred"), sig), 0, 405, kErr + "bad credentials\n", ""},
        {"untrusted", Signed(Material("untrusted.cred"), sig), 0, 401,
         kErr + "non-trusted credentials\n", ""},
        {"bad block", Signed(Base64(corrupt), sig), 0, 401, kErr + "non-trusted credentials\n", ""},
        {"truncated", Signed(Base64(bin.substr(0, 500)), sig), 0, 401,
         kErr + "non-trusted credentials\n", ""},
        // Sized, then decoded: each reads the text once.
        {"bad base64", Signed("QQ", sig), 0, 401,
         premature + premature + kErr + "non-trusted credentials\n", ""},
        {"bad sender key", Signed(Material("badkey.cred"), sig), 0, 401,
         "TRACE: [tid] tslUtil::ImportPublicKey: krypa_import_rsa_pub_key failed\n" + kErr +
             "unable to generate public key\n",
         ""},
        {"no signature", Request(" credentials=\"" + valid + "\" "), 0, 405,
         kErr + "no signature\n", ""},
        {"signature in the body",
         Request(" credentials=\"" + valid + "\" ", "<where>", "<where signature=\"" + sig + "\">"),
         0, 405, kErr + "no signature\n", ""},
        {"tampered",
         Request(" credentials=\"" + valid + "\" signature=\"" + sig + "\"", "Define", "Definf"), 0,
         405,
         "TRACE: [tid] tslUtil::VerifyData: krypa_verify_final failure, error code: -5\n" + kErr +
             "bad signature\n",
         ""},
        {"signed without the zero byte", Signed(valid, Material("nozero.sig")), 0, 405,
         "TRACE: [tid] tslUtil::VerifyData: krypa_verify_final failure, error code: -5\n" + kErr +
             "bad signature\n",
         ""},
    };
    Capture capture;
    TrustStore store;
    store.Absorb(Val(Material("other.pub")) + Val(Material("issuer.pub")));
    FakeVarnix varnix;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        g_now = c.now;
        std::string credentials;
        EXPECT_EQ(Check(c.request, store, varnix, &credentials), c.code);
        int dumped = 0;
        EXPECT_EQ(capture.Take(&dumped), c.log);
        // A failed verification dumps the library's error stack.
        EXPECT_EQ(dumped > 0, c.log.find("VerifyData") != std::string::npos);
        if (c.code == 0) {
            EXPECT_EQ(credentials, c.credentials);
        }
    }
    EXPECT_EQ(varnix.calls, "");  // a public key is held: no refresh
}

// The trust list is fetched while no public key is held, at most once per
// 300 seconds; TrustList first, GetPublicKey when that fails.
TEST(Credentials, TrustListRefreshAndConcurrentReaders) {
    const std::string request = Signed(Material("valid.cred"), Material("covered.sig"));
    const std::string issuer = Material("issuer.pub");
    struct Step {
        std::time_t now;
        int32_t status;
        std::string answer, calls;
        int32_t code;
        std::size_t listed;
    };
    const Step steps[] = {
        {sec::kExpiry - 1000, 1, "", "TrustList;GetPublicKey;", 401, 0},
        {sec::kExpiry - 700, 1, "", "", 401, 0},
        {sec::kExpiry - 699, 1, "<VAL>junk=</VAL><VAL>" + issuer, "TrustList;GetPublicKey;", 401,
         1},
        {sec::kExpiry - 398, 0,
         Val(Material("issuer.spki")) + Val(issuer) + Val("x") + "<VAL>" + issuer + "=",
         "TrustList;", 0, 2},
        {sec::kExpiry, 0, Val(issuer), "", 0, 2},
    };
    Capture capture;
    TrustStore store;
    FakeVarnix varnix;
    for (const Step &step : steps) {
        SCOPED_TRACE(step.now);
        g_now = step.now;
        varnix.status = step.status;
        varnix.answer = step.answer;
        varnix.calls.clear();
        EXPECT_EQ(Check(request, store, varnix), step.code);
        EXPECT_EQ(varnix.calls, step.calls);
        EXPECT_EQ(store.Snapshot()->size(), step.listed);
    }
    EXPECT_TRUE(store.HasPublicKey());
    EXPECT_EQ(*store.Snapshot(), (tslSecurity::TrustList{"junk=", issuer}));
    capture.Take();

    // Readers check credentials while the list grows under them.
    const std::string other = Val(Material("other.pub"));
    std::vector<std::thread> readers;
    std::atomic<int> accepted{0};
    for (int t = 0; t < 2; ++t) {
        readers.emplace_back([&] {
            for (int i = 0; i < 20; ++i) accepted += Check(request, store, varnix) == 0;
        });
    }
    for (int i = 0; i < 100; ++i) store.Absorb(other);
    for (std::thread &reader : readers) reader.join();
    EXPECT_EQ(accepted, 40);
    EXPECT_EQ(store.Snapshot()->size(), 102u);
}

}  // namespace
