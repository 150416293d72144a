// The credential and signature operations: credential check against a trust
// list, public-key import, block decryption, signature verification, and the
// removal of an attribute from a request's start tag.
//
// Every operation works only on its arguments (a trust list is an immutable
// snapshot, see trust_store.h), so any number of threads may call them at
// once. Keys are owned by KeyHandle and released on every path; nothing here
// throws except std::bad_alloc. Failures are logged at level 3 as noted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "krypa/krypa.h"
#include "request/tsl_string.h"

namespace tslSecurity {

struct KeyRelease {
    void operator()(krypa_key *key) const noexcept { krypa_key_release(key); }
};
using KeyHandle = std::unique_ptr<krypa_key, KeyRelease>;

// Issuer public keys (base64 texts) in the order they were learnt.
using TrustList = std::vector<std::string>;

// The bytes of one credential block: 128, the size of an issuer's RSA-1024
// modulus; each carries at most 117 bytes of plain text.
inline constexpr std::size_t kCredentialBlockBytes = 128;

// Checks a credential (base64 of RSA blocks made with an issuer's private key,
// whose plain text is "field1:field2:sender key:expiry") against the issuers
// of `trustList`, in order, at the current time (TslNow).
//  - No issuer decrypts every block: `credentials` becomes empty, true, no key.
//  - Fewer than four fields (split as strtok splits on ":"), or expired (now
//    later than the expiry, read as atol reads it; logs "cred expired"): false.
//  - Otherwise `senderKey` is field 3, `credentials` is rewritten as the four
//    fields joined by ":", true.
bool ValidateCredential(tslString &credentials, const TrustList &trustList,
                        std::optional<std::string> &senderKey);

// A key from the base64 of an RSA public key (PKCS#1 or SubjectPublicKeyInfo
// DER); null after logging the failed library call.
KeyHandle ImportPublicKey(const char *base64);

// Decrypts `size` bytes with `key`: up to one block in one call, longer input
// block by block. Returns the plain-text length, with `plain` holding exactly
// those bytes; 0 with `plain` empty when there is no key, nothing decrypted, or
// any one block failed (a partly decrypted text is never handed out).
int32_t PublicDecrypt(const krypa_key *key, const unsigned char *bytes, std::size_t size,
                      std::string &plain);

// True when the base64 `signature` is `key`'s SHA-256 RSA signature over the
// bytes of `text` and its terminating zero. A failed step is logged with its
// status and the library's error stack.
bool VerifyData(const char *text, const krypa_key *key, const char *signature);

// Releases both keys now; either may be empty.
void ReleaseKeys(KeyHandle &first, KeyHandle &second);

// Logs, at level 3, and empties the calling thread's library error stack, top
// entry first.
void DumpKrypaErrors();

// Cuts `name="value"` out of the first "<tesselrequest" start tag of `request`
// when the whole attribute stands before the tag's first ">"; the blanks around
// it stay. `name` matches as a plain substring (also the end of a longer
// name). A null name, or no such attribute, leaves the text as it is.
void RemoveRequestAttribute(std::string &request, const char *name);

}  // namespace tslSecurity
