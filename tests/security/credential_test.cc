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
#include "request/xerces_library.h"
#include "security/trust_store.h"
#include "support/harness.h"

namespace {

using sec::Material;

std::atomic<std::time_t> g_now{sec::kExpiry};
std::string g_log;

// The trace log and the clock, captured for one test.
struct Capture {
    Capture() {
        g_log.clear();
        TslSetLevel(TSL_TRACE);
        TslSetDebugSink(
            [](void *, const char *line, std::size_t size) { g_log.append(line, size); }, nullptr);
        TslSetClock([] { return g_now.load(); });
    }
    ~Capture() {
        TslSetDebugSink(nullptr, nullptr);
        TslSetClock(nullptr);
    }
    // The lines since the last call but the error-stack dump (OpenSSL's
    // texts), whose lines are counted in `dumped`.
    std::string Take(int &dumped) {
        std::string kept;
        dumped = 0;
        for (std::size_t pos = 0, end; (end = g_log.find('\n', pos)) != std::string::npos;
             pos = end + 1) {
            const std::string line = g_log.substr(pos, end - pos + 1);
            if (line.find("] Error: ") != std::string::npos)
                ++dumped;
            else
                kept += line;
        }
        g_log.clear();
        return nt::Normalised(kept);
    }
};

// Answers every call with `status` and `answer`; notes the tables asked for.
struct FakeVarnix : tslSecurity::TrustListSource {
    int32_t CallVarnix(const std::string &request, std::string &response) override {
        for (const char *table : {"TrustList", "GetPublicKey"})
            if (request.find(std::string("\"") + table + "\"") != std::string::npos) calls += table;
        if (request.find(">Varnix<") == std::string::npos) calls += "(not to Varnix)";
        response = answer;
        return status;
    }
    int32_t status = 1;
    std::string answer, calls;
};

std::string Val(const std::string &value) {
    return "<REC><VAL>" + value + "</VAL></REC>\n";
}

// The prepared request with `attributes` where the two were cut out, and the
// first `from` replaced by `to`.
std::string Request(const std::string &attributes, const std::string &from = "",
                    const std::string &to = "") {
    std::string text = Material("covered");
    text.replace(text.find("  "), 2, attributes);
    return text.replace(text.find(from), from.size(), to);
}
std::string Signed(const std::string &credential, const std::string &signature) {
    return Request(" credentials=\"" + credential + "\" signature=\"" + signature + "\"");
}

// The request reader needs Xerces, which a plug-in object holds only while it
// lives; whichever test runs first, this program holds it throughout.
struct XercesHeld : ::testing::Environment {
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xerces_library::Initialize(error)) << error;
    }
    void TearDown() override { xerces_library::Terminate(); }
};
[[maybe_unused]] ::testing::Environment *const g_xerces =
    ::testing::AddGlobalTestEnvironment(new XercesHeld);  // gtest owns it

// The check on a parsed request: its code; `credentials` gets the field after it.
int32_t Check(const std::string &text, tslSecurity::TrustStore &store,
              tslSecurity::TrustListSource &source, std::string *credentials = nullptr) {
    tslRequest request("V02.000.02", "NorloTessel", "Dorvex", text.c_str());
    request.ParseRequest();
    const int32_t code =
        tslSecurity::AuthenticateRequest(request, store, source, "NorloTessel", "Dorvex");
    if (credentials != nullptr) *credentials = request.m_credentials.str();
    return code;
}

TEST(Credentials, CheckAnswersWithCodeLogAndRewrittenCredentials) {
    const std::string key = Material("sender.pub"), sig = Material("covered.sig");
    const std::string valid = Material("valid.cred"), at = ":" + std::to_string(sec::kExpiry);
    const std::string err = "ERROR: [tid] Tessel::Invoke [NorloTessel->Dorvex] ",
                      trace = "TRACE: [tid] tslUtil::";
    const std::string bad = err + "bad credentials\n",
                      untrusted = err + "non-trusted credentials\n",
                      badSignature = trace +
                                     "VerifyData: krypa_verify_final failure, error code: -5\n" +
                                     err + "bad signature\n",
                      premature = trace + "BinarySize: Premature end of base64 string: \"QQ\" \n";
    const std::string credentialOnly = " credentials=\"" + valid + "\" ";
    // name, request, clock, code, log, credentials after a success
    const std::tuple<const char *, std::string, std::time_t, int32_t, std::string, std::string>
        cases[] = {
            {"valid", Signed(valid, sig), sec::kExpiry, 0, "", "f1:f2:" + key + at},
            {"expired", Signed(valid, sig), sec::kExpiry + 1, 405,
             trace + "ValidateCredential: cred expired\n" + bad, ""},
            {"strtok fields", Signed(Material("colons.cred"), sig), 0, 0, "", "a:b:" + key + at},
            {"three fields", Signed(Material("three.cred"), sig), 0, 405, bad, ""},
            {"garbage", Signed(Material("garbage.cred"), sig), 0, 405, bad, ""},
            {"untrusted", Signed(Material("untrusted.cred"), sig), 0, 401, untrusted, ""},
            {"bad block", Signed(Material("badblock.cred"), sig), 0, 401, untrusted, ""},
            {"truncated", Signed(Material("truncated.cred"), sig), 0, 401, untrusted, ""},
            // Sized, then decoded: each reads the text once.
            {"bad base64", Signed("QQ", sig), 0, 401, premature + premature + untrusted, ""},
            {"bad sender key", Signed(Material("badkey.cred"), sig), 0, 401,
             trace + "ImportPublicKey: krypa_import_rsa_pub_key failed\n" + err +
                 "unable to generate public key\n",
             ""},
            {"no signature", Request(credentialOnly), 0, 405, err + "no signature\n", ""},
            {"signature in the body",
             Request(credentialOnly, "<where>", "<where signature=\"" + sig + "\">"), 0, 405,
             err + "no signature\n", ""},
            {"tampered", Request(credentialOnly + "signature=\"" + sig + "\"", "Define", "Definf"),
             0, 405, badSignature, ""},
            {"signed without the zero byte", Signed(valid, Material("nozero.sig")), 0, 405,
             badSignature, ""},
        };
    Capture capture;
    tslSecurity::TrustStore store;
    store.Absorb(Val(Material("other.pub")) + Val(Material("issuer.pub")));
    FakeVarnix varnix;
    for (const auto &[name, request, now, code, log, rewritten] : cases) {
        SCOPED_TRACE(name);
        g_now = now;
        std::string credentials;
        EXPECT_EQ(Check(request, store, varnix, &credentials), code);
        int dumped = 0;
        EXPECT_EQ(capture.Take(dumped), log);
        // A failed verification dumps the library's error stack.
        EXPECT_EQ(dumped > 0, log.find("VerifyData") != std::string::npos);
        EXPECT_EQ(code == 0 ? credentials : "", rewritten);
    }
    EXPECT_EQ(varnix.calls, "");  // a public key is held: no refresh
}

// The trust list is fetched while no public key is held, at most once per
// 300 seconds; TrustList first, GetPublicKey when that fails.
TEST(Credentials, TrustListRefreshAndConcurrentReaders) {
    const std::string request = Signed(Material("valid.cred"), Material("covered.sig"));
    const std::string issuer = Material("issuer.pub");
    // clock, status and answer of Varnix, tables asked for, code, list size
    const std::tuple<std::time_t, int32_t, std::string, std::string, int32_t, std::size_t> steps[] =
        {
            {sec::kExpiry - 1000, 1, "", "TrustListGetPublicKey", 401, 0},
            {sec::kExpiry - 700, 1, "", "", 401, 0},
            {sec::kExpiry - 699, 1, "<VAL>junk=</VAL>" + Val("junk=") + "<VAL>" + issuer,
             "TrustListGetPublicKey", 401, 1},
            {sec::kExpiry - 398, 0,
             Val(Material("issuer.spki")) + Val(issuer) + Val("x") + "<VAL>" + issuer + "=",
             "TrustList", 0, 2},
            {sec::kExpiry, 0, Val(issuer), "", 0, 2},
        };
    Capture capture;
    tslSecurity::TrustStore store;
    FakeVarnix varnix;
    for (const auto &[now, status, answer, calls, code, listed] : steps) {
        SCOPED_TRACE(now);
        g_now = now;
        varnix.status = status;
        varnix.answer = answer;
        varnix.calls.clear();
        EXPECT_EQ(Check(request, store, varnix), code);
        EXPECT_EQ(varnix.calls, calls);
        EXPECT_EQ(store.Snapshot()->size(), listed);
    }
    EXPECT_TRUE(store.HasPublicKey());
    EXPECT_EQ(*store.Snapshot(), (tslSecurity::TrustList{"junk=", issuer}));

    // Readers check credentials while the list grows under them.
    const std::string other = Val(Material("other.pub"));
    std::atomic<int> accepted{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t)
        readers.emplace_back([&] {
            for (int i = 0; i < 20; ++i) accepted += Check(request, store, varnix) == 0;
        });
    for (int i = 0; i < 100; ++i) store.Absorb(other + Val("k" + std::to_string(i) + "="));
    for (std::thread &reader : readers) reader.join();
    EXPECT_EQ(accepted, 40);
    EXPECT_EQ(store.Snapshot()->size(), 103u);
}

}  // namespace
