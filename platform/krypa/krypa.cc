#include "krypa/krypa.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <new>

#include "krypa/call.h"

namespace {

using krypa::BufferPtr;
using krypa::Call;
using krypa::kMaxRsaBits;
using krypa::kMinRsaBits;
using krypa::Make;
using krypa::MdCtxPtr;
using krypa::PkeyCtxPtr;
using krypa::PkeyPtr;

// The DER of the largest accepted key with any sane exponent stays well inside this.
constexpr std::size_t kMaxKeyDerBytes = 4096;

// The whole input must be the one key: trailing bytes reject it.
PkeyPtr ParseSubjectPublicKeyInfo(const unsigned char *der, std::size_t size) {
    const unsigned char *p = der;
    PkeyPtr key(d2i_PUBKEY(nullptr, &p, static_cast<long>(size)));
    return key && p == der + size ? std::move(key) : nullptr;
}

PkeyPtr ParseRsaPublicKey(const unsigned char *der, std::size_t size) {
    const unsigned char *p = der;
    PkeyPtr key(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &p, static_cast<long>(size)));
    return key && p == der + size ? std::move(key) : nullptr;
}

}  // namespace

struct krypa_keygen {
    int minBits = kMinRsaBits;
    int maxBits = kMaxRsaBits;
};

struct krypa_key {
    PkeyPtr pkey;
};

struct krypa_verify {
    MdCtxPtr md;
    bool finished = false;
};

int32_t krypa_create_keygen(krypa_keygen **out) noexcept {
    Call call;
    if (out == nullptr)
        return call.Fail(KRYPA_E_ARG, "krypa_create_keygen: null argument", __LINE__);
    std::unique_ptr<krypa_keygen> keygen = Make<krypa_keygen>();
    if (!keygen) return call.Fail(KRYPA_E_NOMEM, "krypa_create_keygen: out of memory", __LINE__);
    *out = keygen.release();
    return KRYPA_OK;
}

void krypa_keygen_release(krypa_keygen *keygen) noexcept {
    std::unique_ptr<krypa_keygen> owned(keygen);
}

int32_t krypa_keygen_import_rsa_pub_key(krypa_keygen *keygen, const unsigned char *der, size_t size,
                                        krypa_key **out) noexcept {
    Call call;
    if (out != nullptr) *out = nullptr;
    if (keygen == nullptr || der == nullptr || out == nullptr) {
        return call.Fail(KRYPA_E_ARG, "krypa_keygen_import_rsa_pub_key: null argument", __LINE__);
    }
    if (size == 0 || size > kMaxKeyDerBytes) {
        return call.Fail(KRYPA_E_KEY, "krypa_keygen_import_rsa_pub_key: bad key size", __LINE__);
    }
    PkeyPtr pkey = ParseSubjectPublicKeyInfo(der, size);
    if (!pkey) pkey = ParseRsaPublicKey(der, size);
    if (!pkey) {
        return call.Fail(KRYPA_E_KEY, "krypa_keygen_import_rsa_pub_key: not an RSA public key",
                         __LINE__);
    }
    const int bits = EVP_PKEY_get_bits(pkey.get());
    if (!krypa::IsUsableRsa(pkey.get()) || bits < keygen->minBits || bits > keygen->maxBits) {
        return call.Fail(KRYPA_E_KEY, "krypa_keygen_import_rsa_pub_key: unsupported key", __LINE__);
    }
    std::unique_ptr<krypa_key> key = Make<krypa_key>();
    if (!key) {
        return call.Fail(KRYPA_E_NOMEM, "krypa_keygen_import_rsa_pub_key: out of memory", __LINE__);
    }
    key->pkey = std::move(pkey);
    *out = key.release();
    return KRYPA_OK;
}

void krypa_key_release(krypa_key *key) noexcept {
    std::unique_ptr<krypa_key> owned(key);
}

int32_t krypa_rsa_public_decrypt(const krypa_key *key, int32_t mode, const unsigned char *in,
                                 size_t size, unsigned char **out) noexcept {
    Call call;
    if (out != nullptr) *out = nullptr;
    if (key == nullptr || in == nullptr || out == nullptr) {
        return call.Fail(KRYPA_E_ARG, "krypa_rsa_public_decrypt: null argument", __LINE__);
    }
    if (mode != KRYPA_MODE_PKCS1) {
        return call.Fail(KRYPA_E_ARG, "krypa_rsa_public_decrypt: unsupported mode", __LINE__);
    }
    // Without a digest set, "verify recover" is the raw public operation
    // followed by the type-1 padding check, which hands back the padded bytes.
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key->pkey.get(), nullptr));
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0) {
        return call.Fail(KRYPA_E_CRYPTO, "krypa_rsa_public_decrypt: context setup failed",
                         __LINE__);
    }
    std::size_t room = 0;
    if (EVP_PKEY_verify_recover(ctx.get(), nullptr, &room, in, size) != 1 || room == 0 ||
        room > INT32_MAX) {
        return call.Fail(KRYPA_E_CRYPTO, "krypa_rsa_public_decrypt: cannot size the output",
                         __LINE__);
    }
    BufferPtr plain(static_cast<unsigned char *>(std::malloc(room)));
    if (!plain)
        return call.Fail(KRYPA_E_NOMEM, "krypa_rsa_public_decrypt: out of memory", __LINE__);
    std::size_t length = room;
    if (EVP_PKEY_verify_recover(ctx.get(), plain.get(), &length, in, size) != 1 || length > room) {
        return call.Fail(KRYPA_E_CRYPTO, "krypa_rsa_public_decrypt: decryption failed", __LINE__);
    }
    if (length > 0) *out = plain.release();
    return static_cast<int32_t>(length);
}

void krypa_mem_free(void *buffer) noexcept {
    std::free(buffer);
}

int32_t krypa_verify_init(int32_t alg, const krypa_key *key, krypa_verify **out) noexcept {
    Call call;
    if (out != nullptr) *out = nullptr;
    if (key == nullptr || out == nullptr) {
        return call.Fail(KRYPA_E_ARG, "krypa_verify_init: null argument", __LINE__);
    }
    if (alg != KRYPA_ALG_RSA_SHA256) {
        return call.Fail(KRYPA_E_ARG, "krypa_verify_init: unsupported algorithm", __LINE__);
    }
    std::unique_ptr<krypa_verify> verify = Make<krypa_verify>();
    if (!verify) return call.Fail(KRYPA_E_NOMEM, "krypa_verify_init: out of memory", __LINE__);
    verify->md.reset(EVP_MD_CTX_new());
    // The key context belongs to the digest context and holds a reference to the key.
    EVP_PKEY_CTX *pctx = nullptr;
    if (!verify->md ||
        EVP_DigestVerifyInit_ex(verify->md.get(), &pctx, "SHA256", nullptr, nullptr,
                                key->pkey.get(), nullptr) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) <= 0) {
        return call.Fail(KRYPA_E_CRYPTO, "krypa_verify_init: context setup failed", __LINE__);
    }
    *out = verify.release();
    return KRYPA_OK;
}

int32_t krypa_verify_update(krypa_verify *ctx, const void *data, size_t size) noexcept {
    Call call;
    if (ctx == nullptr || (data == nullptr && size > 0)) {
        return call.Fail(KRYPA_E_ARG, "krypa_verify_update: null argument", __LINE__);
    }
    if (ctx->finished) {
        return call.Fail(KRYPA_E_STATE, "krypa_verify_update: context already finished", __LINE__);
    }
    if (EVP_DigestVerifyUpdate(ctx->md.get(), data, size) != 1) {
        return call.Fail(KRYPA_E_CRYPTO, "krypa_verify_update: digest failed", __LINE__);
    }
    return KRYPA_OK;
}

int32_t krypa_verify_final(krypa_verify *ctx, const unsigned char *signature,
                           size_t size) noexcept {
    Call call;
    if (ctx == nullptr || signature == nullptr) {
        return call.Fail(KRYPA_E_ARG, "krypa_verify_final: null argument", __LINE__);
    }
    if (ctx->finished) {
        return call.Fail(KRYPA_E_STATE, "krypa_verify_final: context already finished", __LINE__);
    }
    ctx->finished = true;
    // Only 1 is a match; 0 is a mismatch and anything else an error.
    const int result = EVP_DigestVerifyFinal(ctx->md.get(), signature, size);
    if (result == 1) return KRYPA_OK;
    if (result == 0) {
        return call.Fail(KRYPA_E_MISMATCH, "krypa_verify_final: signature does not match",
                         __LINE__);
    }
    return call.Fail(KRYPA_E_CRYPTO, "krypa_verify_final: verification failed", __LINE__);
}

void krypa_verify_release(krypa_verify *ctx) noexcept {
    std::unique_ptr<krypa_verify> owned(ctx);
}
