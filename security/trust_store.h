// The plug-in's trust state: the issuer keys learnt from Varnix, the public
// key of its first answer, and when they were last fetched; and the request
// authentication that reads them.
//
// Threads: every member may be called from any number of invoke threads at
// once. The list is published as immutable snapshots: an append builds a new
// list under the mutex and swaps it in, so a reader holds a complete list for
// as long as it needs it without holding the lock through the RSA work.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "security/tsl_security.h"

class tslRequest;

namespace tslSecurity {

// Where trust-list answers come from: the host's "CallTessel" to Varnix on the
// local gateway. Tests put a fake here.
class TrustListSource {
  public:
    virtual ~TrustListSource() = default;
    // Sends `request` (a plain request text; the source encodes it for the
    // host) and returns the host's status, 0 on success. `response` gets the
    // answer text, or stays empty when there is none.
    virtual int32_t CallVarnix(const std::string &request, std::string &response) = 0;
};

class TrustStore {
  public:
    // Seconds between two fetches while no public key is held.
    static constexpr std::time_t kRefreshSeconds = 300;

    TrustStore() = default;
    TrustStore(const TrustStore &) = delete;
    TrustStore &operator=(const TrustStore &) = delete;

    // True for exactly one caller when no public key is held and more than
    // kRefreshSeconds have passed since the last fetch; that caller's `now`
    // becomes the last fetch, and it should Refresh.
    bool ClaimRefresh(std::time_t now);

    // Asks `source` for table "TrustList" of sponsor Varnix, then, when that
    // fails, for "GetPublicKey", and takes in whatever answer came back.
    void Refresh(TrustListSource &source);

    // Takes in a trust-list answer: every <VAL> value ending in "=" that is
    // not listed yet is appended to the list; the first value, whatever its end, becomes the
    // public key (replacing any earlier one). A "<VAL>" without "</VAL>" ends
    // the scan.
    void Absorb(std::string_view response);

    // The list as it stands; never null, never changed after it is returned.
    std::shared_ptr<const TrustList> Snapshot() const;
    bool HasPublicKey() const;

  private:
    mutable std::mutex m_mutex;
    // Guarded by m_mutex: the pointers and the time, not the lists they point to.
    std::shared_ptr<const TrustList> m_list = std::make_shared<const TrustList>();
    KeyHandle m_publicKey;
    std::time_t m_lastFetch = 0;
};

// The whole check of a request that carries credentials, before it is run:
// fetch the trust list when due, check the credential (rewriting the request's
// credentials field), import the sender's key and verify the signature over the
// request text without its credentials and signature attributes.
// Returns 0 to go on serving, or 405 (bad credentials, no or bad signature, an
// exception while checking) or 401 (no trusted issuer, sender key unusable),
// each after logging its "Tessel::Invoke" line at level 1 with `tessel` and
// `dispatch`. Never throws.
int32_t AuthenticateRequest(tslRequest &request, TrustStore &store, TrustListSource &source,
                            const char *tessel, const char *dispatch);

}  // namespace tslSecurity
