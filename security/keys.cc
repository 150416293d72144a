// Public keys and signatures through libkrypa, and the library's error stack
// in the trace log.
#include <cstring>
#include <string>

#include "base/trace_log.h"
#include "request/tsl_util.h"
#include "security/tsl_security.h"

namespace tslSecurity {

namespace {

struct KeygenRelease {
    void operator()(krypa_keygen *keygen) const noexcept { krypa_keygen_release(keygen); }
};
struct VerifyRelease {
    void operator()(krypa_verify *ctx) const noexcept { krypa_verify_release(ctx); }
};

// Decoded base64 in a buffer that is never null, even when empty.
std::string DecodeBase64(const char *text) {
    std::string bytes(tslUtil::BinarySize(text), '\0');
    tslUtil::Decode(text, reinterpret_cast<unsigned char *>(bytes.data()));
    return bytes;
}

// The one logged line names the failed call; the entries below it would only
// reappear in the dump of some later, unrelated verification.
void DiscardKrypaErrors() {
    while (krypa_error_depth() > 0) krypa_error_pop();
}

}  // namespace

KeyHandle ImportPublicKey(const char *base64) {
    const std::string der = DecodeBase64(base64);
    krypa_keygen *rawKeygen = nullptr;
    if (krypa_create_keygen(&rawKeygen) < 0) {
        TslLog(TSL_TRACE, "tslUtil::ImportPublicKey: krypa_create_keygen failed\n");
        DiscardKrypaErrors();
        return nullptr;
    }
    const std::unique_ptr<krypa_keygen, KeygenRelease> keygen(rawKeygen);
    krypa_key *key = nullptr;
    if (krypa_keygen_import_rsa_pub_key(keygen.get(),
                                        reinterpret_cast<const unsigned char *>(der.data()),
                                        der.size(), &key) < 0) {
        TslLog(TSL_TRACE, "tslUtil::ImportPublicKey: krypa_import_rsa_pub_key failed\n");
        DiscardKrypaErrors();
        return nullptr;
    }
    return KeyHandle(key);
}

bool VerifyData(const char *text, const krypa_key *key, const char *signature) {
    krypa_verify *rawContext = nullptr;
    int32_t status = krypa_verify_init(KRYPA_ALG_RSA_SHA256, key, &rawContext);
    if (status < 0) {
        TslLog(TSL_TRACE, "tslUtil::VerifyData: krypa_verify_init failure, error code: %d\n",
               status);
        DumpKrypaErrors();
        return false;
    }
    const std::unique_ptr<krypa_verify, VerifyRelease> context(rawContext);
    // The signed bytes end with the text's terminating zero.
    const std::size_t size = text != nullptr ? std::strlen(text) + 1 : 0;
    status = krypa_verify_update(context.get(), text, size);
    if (status < 0) {
        TslLog(TSL_TRACE, "tslUtil::VerifyData: krypa_verify_update failure, error code: %d\n",
               status);
        DumpKrypaErrors();
        return false;
    }
    const std::string bytes = DecodeBase64(signature);
    status = krypa_verify_final(
        context.get(), reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    if (status < 0) {
        TslLog(TSL_TRACE, "tslUtil::VerifyData: krypa_verify_final failure, error code: %d\n",
               status);
        DumpKrypaErrors();
        return false;
    }
    return true;
}

void ReleaseKeys(KeyHandle &first, KeyHandle &second) {
    first.reset();
    second.reset();
}

void DumpKrypaErrors() {
    while (krypa_error_depth() > 0) {
        TslLog(TSL_TRACE, "Error: %s, %s (%d) - code %d, %s\n", krypa_error_module(),
               krypa_error_sourcefile(), krypa_error_sourceline(), krypa_error_code() & 0xFFFF,
               krypa_error_msg());
        krypa_error_pop();
    }
}

}  // namespace tslSecurity
