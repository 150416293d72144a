// libkrypa: RSA public-key import, public decryption and signature
// verification over OpenSSL 3, behind a small C interface; and, for the key
// tooling, key generation, credential blocks and signing.
//
// Statuses: every function returning int32_t gives a value >= 0 on success and
// one of the negative KRYPA_E_* codes on failure. A failure also pushes at least
// one entry on the calling thread's error stack (see below).
//
// Ownership: handles come from the create/import/init calls and go back through
// the matching release call; a release of null does nothing. Buffers handed out
// by the library go back through krypa_mem_free. Pointer arguments must not be
// null unless stated; a null one fails with KRYPA_E_ARG.
//
// Threads: a key is never changed after import, so one key may be used by any
// number of threads at once (decrypt, verify_init). A generator or a
// verification context belongs to one thread at a time. The error stack is kept
// per thread: a thread sees only the entries of its own failed calls.
// No function throws, aborts or exits.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define KRYPA_NOTHROW noexcept
extern "C" {
#else
#define KRYPA_NOTHROW
#endif

enum {
    KRYPA_OK = 0,
    KRYPA_E_ARG = -1,       // null handle or buffer, or an unsupported selector
    KRYPA_E_NOMEM = -2,     // out of memory
    KRYPA_E_KEY = -3,       // key bytes are not an accepted RSA public key
    KRYPA_E_CRYPTO = -4,    // OpenSSL refused the operation (bad block, bad padding)
    KRYPA_E_MISMATCH = -5,  // the signature does not match
    KRYPA_E_STATE = -6,     // a verification context used after its final step
};

// The one decryption mode: RSA with PKCS#1 v1.5 type-1 padding (the inverse of
// a PKCS#1 v1.5 private-key "sign" of raw bytes).
#define KRYPA_MODE_PKCS1 2
// The one verification algorithm: RSA PKCS#1 v1.5 signature over SHA-256.
#define KRYPA_ALG_RSA_SHA256 2

typedef struct krypa_keygen krypa_keygen;
typedef struct krypa_key krypa_key;
typedef struct krypa_verify krypa_verify;

// A generator imports keys. It holds no key material; release it when done.
int32_t krypa_create_keygen(krypa_keygen **out) KRYPA_NOTHROW;
void krypa_keygen_release(krypa_keygen *keygen) KRYPA_NOTHROW;

// Imports an RSA public key given as DER, either PKCS#1 RSAPublicKey or
// SubjectPublicKeyInfo; the bytes must hold exactly one key and nothing after
// it. Moduli of 1024 to 16384 bits are accepted. On success *out is a new key.
int32_t krypa_keygen_import_rsa_pub_key(krypa_keygen *keygen, const unsigned char *der, size_t size,
                                        krypa_key **out) KRYPA_NOTHROW;
void krypa_key_release(krypa_key *key) KRYPA_NOTHROW;

// Decrypts one block (at most the modulus size) with the public key in `mode`
// (KRYPA_MODE_PKCS1 only) and returns the plain-text length. When that length
// is above 0, *out is a new buffer of exactly that many bytes (no terminating
// zero) for krypa_mem_free; otherwise *out is null.
int32_t krypa_rsa_public_decrypt(const krypa_key *key, int32_t mode, const unsigned char *in,
                                 size_t size, unsigned char **out) KRYPA_NOTHROW;
void krypa_mem_free(void *buffer) KRYPA_NOTHROW;

// Signature verification in three steps. The context keeps its own reference to
// the key, which may be released before the context. Final returns KRYPA_OK only
// when OpenSSL reports a match; after final the context accepts only release.
int32_t krypa_verify_init(int32_t alg, const krypa_key *key, krypa_verify **out) KRYPA_NOTHROW;
int32_t krypa_verify_update(krypa_verify *ctx, const void *data, size_t size) KRYPA_NOTHROW;
int32_t krypa_verify_final(krypa_verify *ctx, const unsigned char *signature,
                           size_t size) KRYPA_NOTHROW;
void krypa_verify_release(krypa_verify *ctx) KRYPA_NOTHROW;

// ---- Key tooling: private keys, credential blocks and signatures ----------
// For the operators' tools, not for the plug-in. The formats are the ones the
// openssl command reads and writes: PEM private keys (PKCS#8, or PKCS#1
// "RSA PRIVATE KEY" when reading), DER public keys, raw PKCS#1 v1.5 blocks and
// signatures. A private key, like a public one, is never changed after it is
// made, so threads may share it.
typedef struct krypa_private_key krypa_private_key;

// Forms of krypa_private_key_public_der: PKCS#1 RSAPublicKey (140 bytes for a
// 1024-bit key, so its base64 ends in one "=") or SubjectPublicKeyInfo.
#define KRYPA_PUB_PKCS1 1
#define KRYPA_PUB_SPKI 2

// A new RSA key of `bits` (1024 to 16384) with public exponent 65537.
int32_t krypa_rsa_generate(int32_t bits, krypa_private_key **out) KRYPA_NOTHROW;
// Reads an unencrypted PEM RSA private key of 1024 to 16384 bits from `size`
// bytes; an encrypted key fails (nothing ever prompts for a passphrase).
int32_t krypa_private_key_read_pem(const char *pem, size_t size,
                                   krypa_private_key **out) KRYPA_NOTHROW;
// The key as unencrypted PKCS#8 PEM: *out is a zero-terminated text of *size
// bytes (terminator not counted) for krypa_mem_free.
int32_t krypa_private_key_write_pem(const krypa_private_key *key, char **out,
                                    size_t *size) KRYPA_NOTHROW;
// The public half as DER in `form` (KRYPA_PUB_*): *out for krypa_mem_free.
int32_t krypa_private_key_public_der(const krypa_private_key *key, int32_t form,
                                     unsigned char **out, size_t *size) KRYPA_NOTHROW;
// The modulus size in bits.
int32_t krypa_private_key_bits(const krypa_private_key *key) KRYPA_NOTHROW;
void krypa_private_key_release(krypa_private_key *key) KRYPA_NOTHROW;

// Encrypts `size` bytes (at most the modulus size less 11) into one block of
// the modulus size with the private key in `mode` (KRYPA_MODE_PKCS1 only):
// what krypa_rsa_public_decrypt reverses. Returns the block length; *out is
// the block for krypa_mem_free.
int32_t krypa_rsa_private_encrypt(const krypa_private_key *key, int32_t mode,
                                  const unsigned char *in, size_t size,
                                  unsigned char **out) KRYPA_NOTHROW;
// Signs `size` bytes with algorithm `alg` (KRYPA_ALG_RSA_SHA256 only): what
// krypa_verify_* accepts. Returns the signature length; *out the signature
// for krypa_mem_free.
int32_t krypa_sign(int32_t alg, const krypa_private_key *key, const void *data, size_t size,
                   unsigned char **out) KRYPA_NOTHROW;

// The calling thread's error stack: entries from OpenSSL's error queue and
// krypa's own, the most recent on top. A failed call moves the whole OpenSSL
// queue of the thread (older entries left by other code included) below its own
// entry; a successful call leaves that queue as it found it. Depth is at most
// KRYPA_ERROR_DEPTH_MAX; a push onto a full stack drops the oldest entry. The accessors describe
// the top entry ("" and 0 on an empty stack); their texts stay valid until the next krypa call on
// the same thread. The code's low 16 bits are the reason.
#define KRYPA_ERROR_DEPTH_MAX 16
int32_t krypa_error_depth(void) KRYPA_NOTHROW;
const char *krypa_error_msg(void) KRYPA_NOTHROW;
int32_t krypa_error_code(void) KRYPA_NOTHROW;
int32_t krypa_error_sourceline(void) KRYPA_NOTHROW;
const char *krypa_error_sourcefile(void) KRYPA_NOTHROW;
const char *krypa_error_module(void) KRYPA_NOTHROW;
void krypa_error_pop(void) KRYPA_NOTHROW;

#ifdef __cplusplus
}
#endif
