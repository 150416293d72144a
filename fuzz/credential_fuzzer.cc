// libFuzzer target: the credential check and the trust-list answers it learns
// its issuers from. The first byte chooses the case:
//  0, 1: the rest is a credentials text, checked against a trust list of an
//     unusable entry and two issuers' keys. Random blocks decrypt under no
//     key, so the check must answer true with the credentials emptied.
//  2: the rest is two trust-list answers, absorbed in turn; the list must be
//     every distinct <VAL> value ending in "=", in order of first appearance.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/trace_log.h"
#include "fuzz/fuzz_input.h"
#include "krypa/krypa.h"
#include "security/trust_store.h"
#include "security/tsl_security.h"

namespace {

void Discard(void *, const char *, std::size_t) {}

void Fail(const char *what) {
    std::fprintf(stderr, "credential check: %s\n", what);
    std::abort();
}

std::string Base64(std::string_view bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
        for (std::size_t k = 0; k < 4; ++k)
            out += k <= 1 || i + k <= bytes.size() ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

tslSecurity::TrustList g_list = {"AAAA"};

void MakeIssuers() {
    for (int i = 0; i < 2; ++i) {
        krypa_private_key *key = nullptr;
        unsigned char *der = nullptr;
        std::size_t size = 0;
        if (krypa_rsa_generate(1024, &key) < 0 ||
            krypa_private_key_public_der(key, KRYPA_PUB_PKCS1, &der, &size) < 0)
            Fail("no issuer key");
        g_list.push_back(Base64(std::string_view(reinterpret_cast<char *>(der), size)));
        krypa_mem_free(der);
        krypa_private_key_release(key);  // only the public half is listed
    }
}

void RawCredentials(std::string_view rest) {
    tslString text{std::string(rest.substr(0, rest.find('\0')))};
    std::optional<std::string> senderKey;
    if (!tslSecurity::ValidateCredential(text, g_list, senderKey) || !text.empty() || senderKey)
        Fail("random blocks were accepted");
}

void TrustAnswers(std::string_view rest) {
    const std::size_t cut = rest.find('\0');
    const std::string_view answers[] = {rest.substr(0, cut),
                                        cut == rest.npos ? "" : rest.substr(cut + 1)};
    std::vector<std::string> expected;
    tslSecurity::TrustStore store;
    for (const std::string_view answer : answers) {
        store.Absorb(answer);
        for (std::size_t pos = answer.find("<VAL>"); pos != answer.npos;
             pos = answer.find("<VAL>", pos)) {
            const std::size_t end = answer.find("</VAL>", pos + 5);
            if (end == answer.npos) break;
            const std::string value(answer.substr(pos + 5, end - pos - 5));
            bool known = false;
            for (const std::string &listed : expected) known = known || listed == value;
            if (!known && !value.empty() && value.back() == '=') expected.push_back(value);
            pos = end + 6;
        }
    }
    if (*store.Snapshot() != expected) Fail("trust list differs from the answers");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The check's trace lines are formatted, then dropped.
    TslSetLevel(TSL_TRACE);
    TslSetDebugSink(Discard, nullptr);
    MakeIssuers();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    if (in.Below(3) == 2)
        TrustAnswers(in.Rest());
    else
        RawCredentials(in.Rest());
    return 0;
}
