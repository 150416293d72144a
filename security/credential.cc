// The credential check: block decryption with each trusted issuer in turn,
// then the four fields and the expiry.
#include <array>
#include <cctype>
#include <climits>
#include <cstring>
#include <string_view>

#include "base/clock.h"
#include "base/trace_log.h"
#include "request/tsl_util.h"
#include "security/tsl_security.h"

namespace tslSecurity {

namespace {

struct LibraryFree {
    void operator()(unsigned char *buffer) const noexcept { krypa_mem_free(buffer); }
};
using LibraryBuffer = std::unique_ptr<unsigned char, LibraryFree>;

// One block through the library: its plain-text length (0 for an empty
// block) appended to `plain`, or a negative status.
int32_t DecryptBlock(const krypa_key *key, const unsigned char *bytes, std::size_t size,
                     std::string &plain) {
    unsigned char *raw = nullptr;
    const int32_t length = krypa_rsa_public_decrypt(key, KRYPA_MODE_PKCS1, bytes, size, &raw);
    const LibraryBuffer owned(raw);
    if (length > 0 && raw != nullptr) plain.append(reinterpret_cast<const char *>(raw), length);
    return length;
}

// The first four non-empty ":"-separated fields, as strtok finds them in the
// text up to its first zero byte; fewer than four: false.
bool SplitFields(std::string_view text, std::array<std::string_view, 4> &fields) {
    text = text.substr(0, text.find('\0'));
    std::size_t found = 0;
    std::size_t pos = 0;
    while (found < fields.size()) {
        pos = text.find_first_not_of(':', pos);
        if (pos == std::string_view::npos) return false;
        const std::size_t end = std::min(text.find(':', pos), text.size());
        fields[found++] = text.substr(pos, end - pos);
        pos = end;
    }
    return true;
}

// atol's reading (leading white space, a sign, digits up to the first other
// character), saturating instead of overflowing.
long ReadSeconds(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (LONG_MAX - digit) / 10) return negative ? LONG_MIN : LONG_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

}  // namespace

int32_t PublicDecrypt(const krypa_key *key, const unsigned char *bytes, std::size_t size,
                      std::string &plain) {
    plain.clear();
    if (key == nullptr || bytes == nullptr) return 0;
    if (size <= kCredentialBlockBytes) {
        if (DecryptBlock(key, bytes, size, plain) < 0) plain.clear();
    } else {
        plain.reserve(size / kCredentialBlockBytes * 117 + 1);
        for (std::size_t offset = 0; offset < size; offset += kCredentialBlockBytes) {
            const std::size_t length = std::min(kCredentialBlockBytes, size - offset);
            // One block that does not decrypt makes the whole text unusable.
            if (DecryptBlock(key, bytes + offset, length, plain) < 0) {
                plain.clear();
                break;
            }
        }
    }
    // Every issuer but one fails here by design; the entries of that expected
    // failure would only reappear in the dump of a later verification.
    if (plain.empty()) {
        while (krypa_error_depth() > 0) krypa_error_pop();
    }
    return static_cast<int32_t>(std::min<std::size_t>(plain.size(), INT32_MAX));
}

bool ValidateCredential(tslString &credentials, const TrustList &trustList,
                        std::optional<std::string> &senderKey) {
    senderKey.reset();
    const std::size_t size = tslUtil::BinarySize(credentials.c_str());
    // One spare byte, so that an empty decode still has a buffer.
    std::string decoded(size + 1, '\0');
    tslUtil::Decode(credentials.c_str(), reinterpret_cast<unsigned char *>(decoded.data()));

    std::string plain;
    bool found = false;
    for (const std::string &issuer : trustList) {
        const KeyHandle key = ImportPublicKey(issuer.c_str());
        if (PublicDecrypt(key.get(), reinterpret_cast<const unsigned char *>(decoded.data()), size,
                          plain) > 0) {
            found = true;
            break;
        }
    }
    if (!found || plain.empty()) {
        credentials.clear();
        return true;
    }

    std::array<std::string_view, 4> fields;
    if (!SplitFields(plain, fields)) return false;
    if (TslNow() > ReadSeconds(fields[3])) {
        TslLog(TSL_TRACE, "tslUtil::ValidateCredential: cred expired\n");
        return false;
    }
    senderKey.emplace(fields[2]);
    std::string rewritten;
    rewritten.reserve(plain.size());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) rewritten += ':';
        rewritten += fields[i];
    }
    credentials = std::move(rewritten);
    return true;
}

}  // namespace tslSecurity
