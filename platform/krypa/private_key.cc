#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>

#include "krypa/call.h"
#include "krypa/krypa.h"

namespace {

using krypa::BufferPtr;
using krypa::Call;
using krypa::PkeyCtxPtr;
using krypa::PkeyPtr;

struct BioFree {
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

// Refuses every passphrase request: without it OpenSSL would prompt on the
// terminal for an encrypted key.
int NoPassphrase(char *, int, int, void *) {
    return -1;
}

// Hands `size` bytes out in a malloc block (plus a zero byte, for texts).
unsigned char *CopyOut(const void *bytes, std::size_t size) {
    auto *out = static_cast<unsigned char *>(std::malloc(size + 1));
    if (out == nullptr) return nullptr;
    std::memcpy(out, bytes, size);
    out[size] = 0;
    return out;
}

}  // namespace

struct krypa_private_key {
    PkeyPtr pkey;
};

namespace {

int32_t Adopt(Call &call, PkeyPtr pkey, krypa_private_key **out, const char *who, int line) {
    if (!krypa::IsUsableRsa(pkey.get())) return call.Fail(KRYPA_E_KEY, who, line);
    std::unique_ptr<krypa_private_key> key = krypa::Make<krypa_private_key>();
    if (!key) return call.Fail(KRYPA_E_NOMEM, who, line);
    key->pkey = std::move(pkey);
    *out = key.release();
    return KRYPA_OK;
}

}  // namespace

int32_t krypa_rsa_generate(int32_t bits, krypa_private_key **out) noexcept {
    Call call;
    if (out != nullptr) *out = nullptr;
    if (out == nullptr)
        return call.Fail(KRYPA_E_ARG, "krypa_rsa_generate: null argument", __LINE__);
    if (bits < krypa::kMinRsaBits || bits > krypa::kMaxRsaBits)
        return call.Fail(KRYPA_E_ARG, "krypa_rsa_generate: unsupported size", __LINE__);
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY *raw = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), bits) <= 0 ||
        EVP_PKEY_generate(ctx.get(), &raw) != 1) {
        EVP_PKEY_free(raw);
        return call.Fail(KRYPA_E_CRYPTO, "krypa_rsa_generate: generation failed", __LINE__);
    }
    return Adopt(call, PkeyPtr(raw), out, "krypa_rsa_generate: unusable key", __LINE__);
}

int32_t krypa_private_key_read_pem(const char *pem, size_t size, krypa_private_key **out) noexcept {
    Call call;
    if (out != nullptr) *out = nullptr;
    if (pem == nullptr || out == nullptr)
        return call.Fail(KRYPA_E_ARG, "krypa_private_key_read_pem: null argument", __LINE__);
    if (size > INT_MAX)
        return call.Fail(KRYPA_E_KEY, "krypa_private_key_read_pem: text too long", __LINE__);
    BioPtr bio(BIO_new_mem_buf(pem, static_cast<int>(size)));
    if (!bio)
        return call.Fail(KRYPA_E_NOMEM, "krypa_private_key_read_pem: out of memory", __LINE__);
    PkeyPtr pkey(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr));
    if (!pkey)
        return call.Fail(KRYPA_E_KEY, "krypa_private_key_read_pem: not a PEM private key",
                         __LINE__);
    return Adopt(call, std::move(pkey), out, "krypa_private_key_read_pem: unsupported key",
                 __LINE__);
}

int32_t krypa_private_key_write_pem(const krypa_private_key *key, char **out,
                                    size_t *size) noexcept {
    Call call;
    if (out != nullptr) *out = nullptr;
    if (key == nullptr || out == nullptr || size == nullptr)
        return call.Fail(KRYPA_E_ARG, "krypa_private_key_write_pem: null argument", __LINE__);
    BioPtr bio(BIO_new(BIO_s_mem()));
    char *text = nullptr;
    long length = 0;
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key->pkey.get(), nullptr, nullptr, 0, nullptr,
                                 nullptr) != 1 ||
        (length = BIO_get_mem_data(bio.get(), &text)) <= 0) {
        return call.Fail(KRYPA_E_CRYPTO, "krypa_private_key_write_pem: cannot write", __LINE__);
    }
    unsigned char *copy = CopyOut(text, static_cast<std::size_t>(length));
    if (copy == nullptr)
        return call.Fail(KRYPA_E_NOMEM, "krypa_private_key_write_pem: out of memory", __LINE__);
    *out = reinterpret_cast<char *>(copy);
    *size = static_cast<std::size_t>(length);
    return KRYPA_OK;
}

int32_t krypa_private_key_public_der(const krypa_private_key *key, int32_t form,
                                     unsigned char **out, size_t *size) noexcept {
    Call call;
    if (out != nullptr) *out = nullptr;
    if (key == nullptr || out == nullptr || size == nullptr)
        return call.Fail(KRYPA_E_ARG, "krypa_private_key_public_der: null argument", __LINE__);
    unsigned char *der = nullptr;
    int length = -1;
    if (form == KRYPA_PUB_PKCS1) {
        length = i2d_PublicKey(key->pkey.get(), &der);
    } else if (form == KRYPA_PUB_SPKI) {
        length = i2d_PUBKEY(key->pkey.get(), &der);
    } else {
        return call.Fail(KRYPA_E_ARG, "krypa_private_key_public_der: unsupported form", __LINE__);
    }
    if (length <= 0 || der == nullptr) {
        OPENSSL_free(der);
        return call.Fail(KRYPA_E_CRYPTO, "krypa_private_key_public_der: cannot encode", __LINE__);
    }
    // OpenSSL's allocator is not necessarily malloc; krypa_mem_free is free.
    unsigned char *copy = CopyOut(der, static_cast<std::size_t>(length));
    OPENSSL_free(der);
    if (copy == nullptr)
        return call.Fail(KRYPA_E_NOMEM, "krypa_private_key_public_der: out of memory", __LINE__);
    *out = copy;
    *size = static_cast<std::size_t>(length);
    return KRYPA_OK;
}

int32_t krypa_private_key_bits(const krypa_private_key *key) noexcept {
    return key != nullptr ? EVP_PKEY_get_bits(key->pkey.get()) : 0;
}

void krypa_private_key_release(krypa_private_key *key) noexcept {
    std::unique_ptr<krypa_private_key> owned(key);
}

int32_t krypa_rsa_private_encrypt(const krypa_private_key *key, int32_t mode,
                                  const unsigned char *in, size_t size,
                                  unsigned char **out) noexcept {
    Call call;
    if (out != nullptr) *out = nullptr;
    if (key == nullptr || (in == nullptr && size > 0) || out == nullptr)
        return call.Fail(KRYPA_E_ARG, "krypa_rsa_private_encrypt: null argument", __LINE__);
    if (mode != KRYPA_MODE_PKCS1)
        return call.Fail(KRYPA_E_ARG, "krypa_rsa_private_encrypt: unsupported mode", __LINE__);
    // A "sign" without a digest is the type-1 padding of the raw bytes
    // followed by the private operation: the block openssl rsautl -sign makes.
    static const unsigned char kNothing = 0;
    if (in == nullptr) in = &kNothing;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key->pkey.get(), nullptr));
    std::size_t room = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &room, in, size) != 1 || room == 0 || room > INT32_MAX) {
        return call.Fail(KRYPA_E_CRYPTO, "krypa_rsa_private_encrypt: context setup failed",
                         __LINE__);
    }
    BufferPtr block(static_cast<unsigned char *>(std::malloc(room)));
    if (!block)
        return call.Fail(KRYPA_E_NOMEM, "krypa_rsa_private_encrypt: out of memory", __LINE__);
    std::size_t length = room;
    if (EVP_PKEY_sign(ctx.get(), block.get(), &length, in, size) != 1 || length > room)
        return call.Fail(KRYPA_E_CRYPTO, "krypa_rsa_private_encrypt: encryption failed", __LINE__);
    *out = block.release();
    return static_cast<int32_t>(length);
}

int32_t krypa_sign(int32_t alg, const krypa_private_key *key, const void *data, size_t size,
                   unsigned char **out) noexcept {
    Call call;
    if (out != nullptr) *out = nullptr;
    if (key == nullptr || (data == nullptr && size > 0) || out == nullptr)
        return call.Fail(KRYPA_E_ARG, "krypa_sign: null argument", __LINE__);
    if (alg != KRYPA_ALG_RSA_SHA256)
        return call.Fail(KRYPA_E_ARG, "krypa_sign: unsupported algorithm", __LINE__);
    static const unsigned char kNothing = 0;
    const auto *bytes = data != nullptr ? static_cast<const unsigned char *>(data) : &kNothing;
    krypa::MdCtxPtr md(EVP_MD_CTX_new());
    EVP_PKEY_CTX *pctx = nullptr;  // owned by md
    std::size_t room = 0;
    if (!md ||
        EVP_DigestSignInit_ex(md.get(), &pctx, "SHA256", nullptr, nullptr, key->pkey.get(),
                              nullptr) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) <= 0 ||
        EVP_DigestSign(md.get(), nullptr, &room, bytes, size) != 1 || room == 0 ||
        room > INT32_MAX) {
        return call.Fail(KRYPA_E_CRYPTO, "krypa_sign: context setup failed", __LINE__);
    }
    BufferPtr signature(static_cast<unsigned char *>(std::malloc(room)));
    if (!signature) return call.Fail(KRYPA_E_NOMEM, "krypa_sign: out of memory", __LINE__);
    std::size_t length = room;
    if (EVP_DigestSign(md.get(), signature.get(), &length, bytes, size) != 1 || length > room)
        return call.Fail(KRYPA_E_CRYPTO, "krypa_sign: signing failed", __LINE__);
    *out = signature.release();
    return static_cast<int32_t>(length);
}
