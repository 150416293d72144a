// Signed requests through Dorvex, with the trust list answered by this test's
// host callback: what is served, what is refused with which code and lines,
// which requests leave an execution record, and when Varnix is asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "material.h"
#include "support/harness.h"

namespace {

using sec::Material;

std::atomic<std::time_t> g_now{sec::kExpiry};
std::mutex g_mutex;    // guards the three below
std::string g_answer;  // Varnix's answer; empty: it does not answer
std::vector<std::string> g_calls, g_events;

int32_t Gateway(const char *, const char *operation, ...) {
    va_list args;
    va_start(args, operation);
    std::lock_guard<std::mutex> lock(g_mutex);
    int32_t status = 1;
    if (std::strcmp(operation, "SendEvent") == 0) {
        g_events.emplace_back(va_arg(args, const char *));
    } else if (std::strcmp(operation, "CallTessel") == 0) {
        std::string call = std::string(va_arg(args, const char *)) + "|";
        call += std::string(va_arg(args, const char *)) + "|";
        const std::string request = nt::UrlDecode(va_arg(args, const char *));
        for (const char *table : {"TrustList", "GetPublicKey"})
            if (request.find(std::string("\"") + table + "\"") != std::string::npos) call += table;
        char **response = va_arg(args, char **);
        *response = nullptr;
        // An answer marked "old:" is only had from the older table.
        if (!g_answer.empty() && (g_answer.rfind("old:", 0) != 0 || call.back() == 'y')) {
            *response = static_cast<char *>(std::malloc(g_answer.size() + 1));
            std::memcpy(*response, g_answer.c_str(), g_answer.size() + 1);
            status = 0;
        }
        g_calls.push_back(call + ",");
    }
    va_end(args);
    return status;
}

template <typename T>
T Take(T &value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return std::exchange(value, T{});
}

std::string Val(const std::string &value) {
    return "<REC><VAL>" + value + "</VAL></REC>";
}

// The request with `attributes` on its start tag and the first `from` replaced by `to`.
std::string Request(const std::string &attributes, const std::string &from = "",
                    const std::string &to = "") {
    std::string text = "<tesselrequest version=\"2.0\"" + attributes +
                       "><sponsor>S</sponsor><select><output><all/></output><from><db "
                       "name=\"Sample Age\"/></from><where></where></select></tesselrequest>";
    return text.replace(text.find(from), from.size(), to);
}

// The sender's signature over `text` and (unless `zero` is false) its terminating zero.
std::string Sign(const std::string &text, bool zero = true) {
    const std::string path = sec::MaterialPath("signed.txt");
    std::ofstream(path, std::ios::binary) << text << std::string(zero ? 1 : 0, '\0');
    return sec::Run("openssl dgst -sha256 -sign " + sec::MaterialPath("sender.pem") + " " + path +
                    " | base64 -w0");
}

// The check's lines of a log: errors, the credential trace lines and the
// credentials a served request runs with; `dumped` tells whether the
// library's error stack was dumped.
std::string CheckLines(const std::string &log, bool &dumped) {
    std::string kept;
    dumped = false;
    for (std::size_t pos = 0, end; (end = log.find('\n', pos)) != std::string::npos;
         pos = end + 1) {
        const std::string line = log.substr(pos, end - pos + 1);
        dumped |= line.find("] Error: ") != std::string::npos;
        if (line.rfind("ERROR:", 0) == 0 || line.find("tslUtil::") != std::string::npos ||
            line.find("Credentials [") != std::string::npos)
            kept += line;
    }
    return kept;
}

TEST(SecureInvoke, SignedRequestsThroughDorvex) {
    const std::string issuer = Material("issuer.pub"), valid = Material("valid.cred");
    const std::string key = Material("sender.pub"), at = ":" + std::to_string(sec::kExpiry);
    // The text the sender signs: the request with both attributes cut out, the
    // blanks around them left.
    const std::string sig = Sign(Request("  "));
    const auto signedBy = [&](const std::string &credential, const std::string &signature) {
        return Request(" credentials=\"" + credential + "\" signature=\"" + signature + "\"");
    };
    const std::string credentialOnly = " credentials=\"" + valid + "\" ";
    const std::string err = "ERROR: [tid] Tessel::Invoke [NorloTessel->Dorvex] ",
                      trace = "TRACE: [tid] tslUtil::",
                      runs = "  Transaction [notrans] Credentials [";
    const std::string bad = err + "bad credentials\n",
                      untrusted = err + "non-trusted credentials\n",
                      badSignature = trace +
                                     "VerifyData: krypa_verify_final failure, error code: -5\n" +
                                     err + "bad signature\n",
                      premature = trace + "BinarySize: Premature end of base64 string: \"QQ\" \n",
                      noKeyLine = trace + "ImportPublicKey: krypa_import_rsa_pub_key failed\n";
    const std::string varnix = "localhost|Varnix|";
    const std::string both = varnix + "TrustList," + varnix + "GetPublicKey,";
    // No key first, so no public key is held and fetches go on; the issuer's
    // key without its closing "=" is no trust-list value.
    const std::string noKey = Val("x") + Val(Material("issuer.spki"));
    const std::string x = trace + "BinarySize: Premature end of base64 string: \"x\" \n",
                      noX = x + x + noKeyLine;
    const std::string served = runs + "f1:f2:" + key + at + "]\n";

    // clock, Varnix's answer, request, code, check lines, calls to Varnix
    const struct {
        std::time_t now;
        std::string answer, request;
        int32_t code;
        std::string log, calls;
    } steps[] = {
        {sec::kExpiry - 1000, "", signedBy(valid, sig), 401, untrusted, both},
        {sec::kExpiry - 700, noKey, signedBy(valid, sig), 401, untrusted, ""},
        {sec::kExpiry - 699, "old:" + noKey, signedBy(valid, sig), 401, noX + untrusted, both},
        {sec::kExpiry - 398, Val(Material("other.pub")) + Val("x") + Val(issuer),
         signedBy(valid, sig), 0, served, varnix + "TrustList,"},
        // A public key is held: no more fetches. Expiry is this very second.
        {sec::kExpiry, noKey, signedBy(valid, sig), 0, served, ""},
        {sec::kExpiry + 1, "", signedBy(valid, sig), 405,
         trace + "ValidateCredential: cred expired\n" + bad, ""},
        {0, "", Request(" signature=\"" + sig + "\""), 0, runs + "nocreds]\n", ""},
        {0, "", signedBy(Material("colons.cred"), sig), 0, runs + "a:b:" + key + at + "]\n", ""},
        {0, "", signedBy(Material("three.cred"), sig), 405, bad, ""},
        {0, "", signedBy(Material("garbage.cred"), sig), 405, bad, ""},
        {0, "", signedBy(Material("untrusted.cred"), sig), 401, untrusted, ""},
        {0, "", signedBy(Material("badblock.cred"), sig), 401, untrusted, ""},
        {0, "", signedBy(Material("truncated.cred"), sig), 401, untrusted, ""},
        // Sized, then decoded: each reads the text once.
        {0, "", signedBy("QQ", sig), 401, premature + premature + untrusted, ""},
        {0, "", signedBy(Material("badkey.cred"), sig), 401,
         noKeyLine + err + "unable to generate public key\n", ""},
        {0, "", Request(credentialOnly), 405, err + "no signature\n", ""},
        {0, "", Request(credentialOnly, "<where>", "<where signature=\"" + sig + "\">"), 405,
         err + "no signature\n", ""},
        {0, "", Request(credentialOnly + "signature=\"" + sig + "\"", "Age", "Agf"), 405,
         badSignature, ""},
        {0, "", signedBy(valid, Sign(Request("  "), false)), 405, badSignature, ""},
    };

    nt::Host host;
    ASSERT_EQ(host.Call("initialize", reinterpret_cast<uintptr_t>(&Gateway)), 0);
    TslSetClock([] { return g_now.load(); });
    for (const auto &step : steps) {
        SCOPED_TRACE(step.request.substr(0, 60) + " at " + std::to_string(step.now));
        g_now = step.now;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_answer = step.answer;
        }
        const nt::Reply reply = host.Invoke(step.request);
        EXPECT_EQ(reply.result, step.code);
        bool dumped = false;
        EXPECT_EQ(CheckLines(host.TakeLog(), dumped), step.log);
        // A failed verification dumps the library's error stack.
        EXPECT_EQ(dumped, step.log.find("VerifyData") != std::string::npos);
        std::string calls;
        for (const std::string &call : Take(g_calls)) calls += call;
        EXPECT_EQ(calls, step.calls);
        // Served with its execution record; refused without a response or one.
        EXPECT_EQ(reply.answered, step.code == 0);
        const std::vector<std::string> events = Take(g_events);
        ASSERT_EQ(events.size(), step.code == 0 ? 1u : 0u);
        if (step.code != 0) continue;
        const nt::Fields fields = nt::EventFields(events[0]);
        EXPECT_NE(std::find(fields.begin(), fields.end(),
                            std::pair<std::string, std::string>("Method", "s:Sample Age")),
                  fields.end());
        // The same table the unsigned request gets.
        const nt::Reply plain = host.Invoke(Request(""));
        EXPECT_EQ(reply.response, plain.response);
        EXPECT_NE(plain.response.find("<NAME>Sample Age</NAME>"), std::string::npos);
        Take(g_events), host.TakeLog();
    }
}

}  // namespace
