// libFuzzer target: the credential check and the trust-list answers it learns
// its issuers from. The first byte chooses the case:
//  0: the rest is a credentials text, checked against a trust list of an
//     unusable entry, an issuer and a second issuer. Random blocks decrypt
//     under no key, so the check must answer true with the credentials emptied.
//  1: the rest is a plain text that this target cuts into blocks, encrypts
//     with the issuers' private keys (a choice per block, sometimes with a
//     stray byte after the last block) and encodes; the outcome is checked
//     against the literal rule: the first issuer that decrypts every block
//     gives the plain text, whose first four ":"-separated fields (as strtok
//     finds them before any zero byte) are rewritten joined by ":", with the
//     third as the sender key, unless the fourth, read as atol reads it, is
//     earlier than now.
//  2: the rest is two trust-list answers, absorbed in turn; the list must be
//     every distinct <VAL> value ending in "=", in order of first appearance.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "base/trace_log.h"
#include "fuzz/fuzz_input.h"
#include "krypa/krypa.h"
#include "security/trust_store.h"
#include "security/tsl_security.h"

namespace {

constexpr std::time_t kNow = 1700000000;
constexpr std::size_t kMaxBlocks = 4;

std::time_t FixedClock() {
    return kNow;
}
void Discard(void *, const char *, std::size_t) {}

void Fail(const char *what) {
    std::fprintf(stderr, "credential check: %s\n", what);
    std::abort();
}

std::string Base64(std::string_view bytes, bool star) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = kDigits[(group >> (18 - 6 * k)) & 63];
            out += k <= 1 || i + k <= bytes.size() ? (star && c == '/' ? '*' : c) : '=';
        }
    }
    return out;
}

struct Issuer {
    krypa_private_key *key = nullptr;  // kept for the process
    std::string listed;                // base64 of the public key
};

std::array<Issuer, 2> g_issuers;

void MakeIssuers() {
    for (Issuer &issuer : g_issuers) {
        unsigned char *der = nullptr;
        std::size_t size = 0;
        if (krypa_rsa_generate(1024, &issuer.key) < 0 ||
            krypa_private_key_public_der(issuer.key, KRYPA_PUB_PKCS1, &der, &size) < 0)
            Fail("no issuer key");
        issuer.listed = Base64(std::string_view(reinterpret_cast<char *>(der), size), false);
        krypa_mem_free(der);
    }
}

std::string Encrypt(const Issuer &issuer, std::string_view plain) {
    unsigned char *block = nullptr;
    const int32_t size = krypa_rsa_private_encrypt(
        issuer.key, KRYPA_MODE_PKCS1, reinterpret_cast<const unsigned char *>(plain.data()),
        plain.size(), &block);
    if (size != static_cast<int32_t>(tslSecurity::kCredentialBlockBytes)) Fail("no block");
    std::string out(reinterpret_cast<char *>(block), static_cast<std::size_t>(size));
    krypa_mem_free(block);
    return out;
}

struct Outcome {
    bool result;
    std::string credentials;
    std::optional<std::string> senderKey;
    bool operator==(const Outcome &) const = default;
};

Outcome Expected(std::string_view plain) {
    if (plain.empty()) return {true, "", std::nullopt};
    std::string text(plain.substr(0, plain.find('\0')));
    std::vector<std::string> fields;
    for (char *token = std::strtok(text.data(), ":"); token && fields.size() < 4;
         token = std::strtok(nullptr, ":"))
        fields.emplace_back(token);
    if (fields.size() < 4) return {false, "", std::nullopt};
    if (kNow > std::strtol(fields[3].c_str(), nullptr, 10)) return {false, "", std::nullopt};
    return {true, fields[0] + ":" + fields[1] + ":" + fields[2] + ":" + fields[3], fields[2]};
}

Outcome Check(const std::string &credentials) {
    const tslSecurity::TrustList list = {"AAAA", g_issuers[0].listed, g_issuers[1].listed};
    Outcome outcome{false, credentials, std::nullopt};
    tslString text(credentials);
    outcome.result = tslSecurity::ValidateCredential(text, list, outcome.senderKey);
    outcome.credentials = text.c_str();
    return outcome;
}

void RawCredentials(std::string_view rest) {
    const Outcome got = Check(std::string(rest.substr(0, rest.find('\0'))));
    if (!(got == Outcome{true, "", std::nullopt})) Fail("random blocks were accepted");
}

void SignedCredentials(FuzzInput &in) {
    const std::size_t blockPlain = 1 + in.Below(117);
    const uint8_t issuers = in.Byte();  // bit k: block k by the second issuer
    const bool stray = in.Byte() == 0xFF;
    const bool star = in.Byte() & 1;
    const std::string_view plain = in.Rest();
    std::string binary;
    std::size_t blocks = 0;
    for (std::size_t at = 0; at < plain.size() && blocks < kMaxBlocks; at += blockPlain, ++blocks)
        binary += Encrypt(g_issuers[(issuers >> blocks) & 1], plain.substr(at, blockPlain));
    if (blocks == 0) return;
    const std::string_view used = plain.substr(0, std::min(plain.size(), blocks * blockPlain));
    if (stray) binary += 'x';
    const bool oneIssuer = (issuers & ((1u << blocks) - 1)) == 0 ||
                           (issuers & ((1u << blocks) - 1)) == (1u << blocks) - 1;
    const Outcome expected = !stray && oneIssuer ? Expected(used) : Outcome{true, "", std::nullopt};
    Outcome got = Check(Base64(binary, star));
    // A check that fails leaves the credentials as they came.
    if (!expected.result) got.credentials.clear();
    if (!(got == expected)) Fail("outcome differs from the rule");
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
    TslSetClock(&FixedClock);
    // The check's trace lines are formatted, then dropped.
    TslSetLevel(TSL_TRACE);
    TslSetDebugSink(Discard, nullptr);
    MakeIssuers();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    switch (in.Below(3)) {
        case 0:
            RawCredentials(in.Rest());
            break;
        case 1:
            SignedCredentials(in);
            break;
        default:
            TrustAnswers(in.Rest());
            break;
    }
    return 0;
}
