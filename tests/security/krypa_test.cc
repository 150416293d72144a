// libkrypa against the openssl command: keys, blocks and signatures made by the
// tool import, decrypt and verify; damaged ones fail with a negative status and
// an entry on the error stack.
#include "krypa/krypa.h"

#include <gtest/gtest.h>
#include <openssl/err.h>

#include <memory>
#include <string>
#include <thread>
#include <tuple>

#include "material.h"

namespace {

using sec::Material;

struct KeyFree {
    void operator()(krypa_key *key) const { krypa_key_release(key); }
};
using Key = std::unique_ptr<krypa_key, KeyFree>;
const unsigned char *Bytes(const std::string &s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

// OpenSSL's queue is left empty either way. A success leaves the error stack
// empty; a failure gives the expected status and leaves krypa's own entry on
// top (OpenSSL's, if any, below it); popping empties the stack.
void ExpectOutcome(int32_t status, int32_t expected) {
    EXPECT_EQ(status, expected);
    EXPECT_EQ(ERR_peek_error(), 0ul);
    if (expected >= 0) {
        EXPECT_EQ(krypa_error_depth(), 0);
        return;
    }
    EXPECT_GE(krypa_error_depth(), 1);
    EXPECT_STREQ(krypa_error_module(), "krypa");
    EXPECT_EQ(krypa_error_code(), -expected);
    while (krypa_error_depth() > 0) krypa_error_pop();
    krypa_error_pop();  // harmless on an empty stack
    EXPECT_EQ(krypa_error_depth(), 0);
    EXPECT_STREQ(krypa_error_msg(), "");
}

int32_t Import(const std::string &der, Key *key = nullptr) {
    krypa_keygen *keygen = nullptr;
    EXPECT_EQ(krypa_create_keygen(&keygen), KRYPA_OK);
    krypa_key *raw = nullptr;
    const int32_t status = krypa_keygen_import_rsa_pub_key(keygen, Bytes(der), der.size(), &raw);
    krypa_keygen_release(keygen);
    EXPECT_EQ(status < 0, raw == nullptr);
    Key owned(raw);
    if (key != nullptr) *key = std::move(owned);
    return status;
}

Key KeyOf(const std::string &name) {
    Key key;
    EXPECT_EQ(Import(Material(name), &key), KRYPA_OK) << name;
    return key;
}

TEST(Krypa, ImportsBothDerFormsOfRsaKeysOnly) {
    const std::string spki = Material("issuer.der");
    const std::pair<std::string, int32_t> cases[] = {
        {spki, KRYPA_OK},
        {Material("issuer.pkcs1"), KRYPA_OK},
        {spki + '\0', KRYPA_E_KEY},
        {spki.substr(0, spki.size() - 1), KRYPA_E_KEY},
        {std::string(140, '\x30'), KRYPA_E_KEY},
        {"", KRYPA_E_KEY},
        {Material("weak"), KRYPA_E_KEY},
        {Material("pss"), KRYPA_E_KEY},
    };
    for (const auto &[der, status] : cases) ExpectOutcome(Import(der), status);
}

TEST(Krypa, PublicDecryptInvertsOpensslSign) {
    const Key issuer = KeyOf("issuer.pkcs1");
    const Key other = KeyOf("other.der");
    const std::string block = Material("long.blk");
    // key, mode, input, plain text, status
    const std::tuple<const krypa_key *, int32_t, std::string, std::string, int32_t> cases[] = {
        {issuer.get(), KRYPA_MODE_PKCS1, block, Material("long"), 117},
        {issuer.get(), KRYPA_MODE_PKCS1, Material("short.blk"), Material("short"), 20},
        {issuer.get(), KRYPA_MODE_PKCS1, Material("empty.blk"), "", 0},
        {other.get(), KRYPA_MODE_PKCS1, block, "", KRYPA_E_CRYPTO},
        {issuer.get(), KRYPA_MODE_PKCS1, block.substr(1), "", KRYPA_E_CRYPTO},
        {issuer.get(), KRYPA_MODE_PKCS1, block + 'x', "", KRYPA_E_CRYPTO},
        {issuer.get(), 1, block, "", KRYPA_E_ARG},
        {nullptr, KRYPA_MODE_PKCS1, block, "", KRYPA_E_ARG},
    };
    for (const auto &[key, mode, in, expected, outcome] : cases) {
        unsigned char *out = reinterpret_cast<unsigned char *>(&out);  // must be reset
        const int32_t status = krypa_rsa_public_decrypt(key, mode, Bytes(in), in.size(), &out);
        ExpectOutcome(status, outcome);
        EXPECT_EQ(out != nullptr, status > 0);
        const std::string plain = out ? std::string(reinterpret_cast<char *>(out), status) : "";
        EXPECT_EQ(plain, expected);
        krypa_mem_free(out);
    }
}

TEST(Krypa, VerifiesOpensslSha256Signatures) {
    const Key issuer = KeyOf("issuer.der");
    const Key other = KeyOf("other.pkcs1");
    const std::string message = Material("message");
    const std::string signature = Material("message.sig");
    std::string tampered = signature;
    tampered[60] ^= 1;
    // key, algorithm, message, signature, status
    const std::tuple<const krypa_key *, int32_t, std::string, std::string, int32_t> cases[] = {
        {issuer.get(), KRYPA_ALG_RSA_SHA256, message, signature, KRYPA_OK},
        {issuer.get(), KRYPA_ALG_RSA_SHA256, message, tampered, KRYPA_E_MISMATCH},
        {other.get(), KRYPA_ALG_RSA_SHA256, message, signature, KRYPA_E_MISMATCH},
        // The signed bytes include the text's terminating zero.
        {issuer.get(), KRYPA_ALG_RSA_SHA256, message.substr(0, message.size() - 1), signature,
         KRYPA_E_MISMATCH},
        {issuer.get(), KRYPA_ALG_RSA_SHA256, message, signature.substr(1), KRYPA_E_MISMATCH},
        {issuer.get(), 1, message, signature, KRYPA_E_ARG},
    };
    for (const auto &[key, alg, text, sig, outcome] : cases) {
        krypa_verify *ctx = nullptr;
        int32_t status = krypa_verify_init(alg, key, &ctx);
        if (status == KRYPA_OK) status = krypa_verify_update(ctx, text.data(), text.size());
        if (status == KRYPA_OK) status = krypa_verify_final(ctx, Bytes(sig), sig.size());
        ExpectOutcome(status, outcome);
        krypa_verify_release(ctx);
    }

    // A context outlives the key it was opened with; it finishes only once.
    krypa_verify *ctx = nullptr;
    Key released = KeyOf("issuer.pkcs1");
    ASSERT_EQ(krypa_verify_init(KRYPA_ALG_RSA_SHA256, released.get(), &ctx), KRYPA_OK);
    released.reset();
    EXPECT_EQ(krypa_verify_update(ctx, message.data(), message.size()), KRYPA_OK);
    EXPECT_EQ(krypa_verify_final(ctx, Bytes(signature), signature.size()), KRYPA_OK);
    ExpectOutcome(krypa_verify_final(ctx, Bytes(signature), signature.size()), KRYPA_E_STATE);
    krypa_verify_release(ctx);
}

TEST(Krypa, ErrorStackIsPerThreadAndBounded) {
    for (int i = 0; i < KRYPA_ERROR_DEPTH_MAX; ++i) Import("junk");
    EXPECT_EQ(krypa_error_depth(), KRYPA_ERROR_DEPTH_MAX);
    std::thread([] { EXPECT_EQ(krypa_error_depth(), 0); }).join();
    // krypa's entry on top; below it, OpenSSL's say where the decoder gave up.
    EXPECT_STREQ(krypa_error_module(), "krypa");
    krypa_error_pop();
    EXPECT_STRNE(krypa_error_module(), "krypa");
    EXPECT_STRNE(krypa_error_sourcefile(), "");
    while (krypa_error_depth() > 0) krypa_error_pop();
}

}  // namespace
