// What every krypa source shares: owners for OpenSSL objects and the guard
// that turns one public call's OpenSSL errors into error-stack entries.
#pragma once

#include <openssl/err.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "krypa/error_stack.h"

namespace krypa {

struct PkeyFree {
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX *ctx) const { EVP_PKEY_CTX_free(ctx); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX *ctx) const { EVP_MD_CTX_free(ctx); }
};
struct MallocFree {
    void operator()(void *buffer) const { std::free(buffer); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;
using BufferPtr = std::unique_ptr<unsigned char, MallocFree>;

// Below 1024 bits a modulus can be factored; above 16384 OpenSSL refuses the
// operations anyway, and a public operation's cost grows with the size.
inline constexpr int kMinRsaBits = 1024;
inline constexpr int kMaxRsaBits = 16384;

// One public call: entries OpenSSL queues on the way are noise when the call
// succeeds (a rejected form is retried as the other) and are removed again;
// when it fails they move onto krypa's error stack under krypa's own entry.
class Call {
  public:
    Call() { ERR_set_mark(); }
    ~Call() {
        if (!failed_) ERR_pop_to_mark();
    }
    Call(const Call &) = delete;
    Call &operator=(const Call &) = delete;

    // The entry names the file of the failing call (`file` defaults to the
    // caller's) and the line it gives.
    int32_t Fail(int32_t status, const char *what, int line, const char *file = __builtin_FILE()) {
        failed_ = true;
        ERR_clear_last_mark();
        MoveOpenSslErrors();
        const char *slash = std::strrchr(file, '/');
        PushError(-status, what, slash != nullptr ? slash + 1 : file, line);
        return status;
    }

  private:
    bool failed_ = false;
};

template <typename T>
std::unique_ptr<T> Make() {
    try {
        return std::make_unique<T>();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// Plain RSA of an accepted size: the padding modes krypa uses are not defined
// for RSA-PSS keys.
inline bool IsUsableRsa(EVP_PKEY *key) {
    const int bits = EVP_PKEY_get_bits(key);
    return EVP_PKEY_is_a(key, "RSA") && bits >= kMinRsaBits && bits <= kMaxRsaBits;
}

}  // namespace krypa
