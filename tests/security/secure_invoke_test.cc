// Signed requests through Dorvex, with the trust list answered by this test's
// host callback: what is served, what is refused with which code and line,
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

int32_t Gateway(const char *tessel, const char *operation, ...) {
    va_list args;
    va_start(args, operation);
    std::lock_guard<std::mutex> lock(g_mutex);
    int32_t status = 1;
    if (std::strcmp(operation, "SendEvent") == 0) {
        g_events.emplace_back(va_arg(args, const char *));
    } else if (std::strcmp(operation, "CallTessel") == 0) {
        std::string call = std::string(tessel) + "|" + va_arg(args, const char *);
        call += std::string("|") + va_arg(args, const char *) + "|";
        const std::string request = nt::UrlDecode(va_arg(args, const char *));
        for (const char *table : {"TrustList", "GetPublicKey"})
            if (request.find(std::string("\"") + table + "\"") != std::string::npos) call += table;
        char **response = va_arg(args, char **);
        *response = nullptr;
        if (!g_answer.empty()) {
            *response = static_cast<char *>(std::malloc(g_answer.size() + 1));
            std::memcpy(*response, g_answer.c_str(), g_answer.size() + 1);
            status = 0;
        }
        g_calls.push_back(call);
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

const std::string kBody =
    "><sponsor>S</sponsor><select><output><all/></output><from><db name=\"Sample Age\"/></from>"
    "<where></where></select></tesselrequest>";

// The error lines of a log.
std::string Errors(const std::string &log) {
    std::string errors;
    for (std::size_t pos = 0, end; (end = log.find('\n', pos)) != std::string::npos; pos = end + 1)
        if (log.compare(pos, 6, "ERROR:") == 0) errors += log.substr(pos, end - pos + 1);
    return errors;
}

// The request with `attributes` on its start tag.
std::string Request(const std::string &attributes) {
    return "<tesselrequest version=\"2.0\"" + attributes + kBody;
}

// The sender's signature over `text` and its terminating zero.
std::string Sign(const std::string &text) {
    const std::string path = sec::MaterialPath("signed.txt");
    std::ofstream(path, std::ios::binary) << text << '\0';
    return sec::Run("openssl dgst -sha256 -sign " + sec::MaterialPath("sender.pem") + " " + path +
                    " | base64 -w0");
}

TEST(SecureInvoke, SignedRequestsThroughDorvex) {
    const std::string issuer = Material("issuer.pub"), valid = Material("valid.cred");
    // The text the sender signs: the request with both attributes cut out, the
    // blanks around them left.
    const std::string signature = Sign(Request("  "));
    const auto signedBy = [&](const std::string &credential, const std::string &sig) {
        return Request(" credentials=\"" + credential + "\" signature=\"" + sig + "\"");
    };
    std::string tampered = signedBy(valid, signature);
    tampered.replace(tampered.find("Sample Age"), 10, "Sample Agf");
    const std::string err = "ERROR: [tid] Tessel::Invoke [NorloTessel->Dorvex] ";
    const std::string varnix = "NorloTessel|localhost|Varnix|";
    const std::string both = varnix + "TrustList," + varnix + "GetPublicKey,";
    const std::string trustList = varnix + "TrustList,";
    // The first value is no key, so no public key is held and fetches go on.
    const std::string noKey = Val("x") + Val(issuer);

    // clock, Varnix's answer, request, code, error lines, calls to Varnix
    const struct {
        std::time_t now;
        std::string answer, request;
        int32_t code;
        std::string log, calls;
    } steps[] = {
        {sec::kExpiry - 1000, "", signedBy(valid, signature), 401,
         err + "non-trusted credentials\n", both},
        {sec::kExpiry - 700, noKey, signedBy(valid, signature), 401,
         err + "non-trusted credentials\n", ""},
        {sec::kExpiry - 699, noKey, signedBy(valid, signature), 0, "", trustList},
        {sec::kExpiry - 698, "", Request(" signature=\"" + signature + "\""), 0, "", ""},
        {sec::kExpiry - 500, "", tampered, 405, err + "bad signature\n", ""},
        {sec::kExpiry - 500, "", signedBy(Material("untrusted.cred"), signature), 401,
         err + "non-trusted credentials\n", ""},
        {sec::kExpiry - 500, "", Request(" credentials=\"" + valid + "\""), 405,
         err + "no signature\n", ""},
        {sec::kExpiry - 398, Val(Material("other.pub")) + noKey, signedBy(valid, signature), 0, "",
         trustList},
        // A public key is held: no more fetches. Expiry is this very second.
        {sec::kExpiry, noKey, signedBy(valid, signature), 0, "", ""},
    };

    nt::Host host;
    ASSERT_EQ(host.Call("initialize", reinterpret_cast<uintptr_t>(&Gateway)), 0);
    TslSetClock([] { return g_now.load(); });
    for (const auto &step : steps) {
        SCOPED_TRACE(step.now);
        g_now = step.now;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            g_answer = step.answer;
        }
        const nt::Reply reply = host.Invoke(step.request);
        EXPECT_EQ(reply.result, step.code);
        EXPECT_EQ(Errors(host.TakeLog()), step.log);
        std::string calls;
        for (const std::string &call : Take(g_calls)) calls += call + ",";
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
