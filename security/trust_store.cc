// The trust list, its refresh from Varnix and the request authentication.
#include "security/trust_store.h"

#include <exception>
#include <string_view>
#include <unordered_set>

#include "base/clock.h"
#include "base/trace_log.h"
#include "request/tsl_request.h"
#include "result/tsl_data.h"

namespace tslSecurity {

bool TrustStore::ClaimRefresh(std::time_t now) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_publicKey || now - m_lastFetch <= kRefreshSeconds) return false;
    m_lastFetch = now;
    return true;
}

void TrustStore::Refresh(TrustListSource &source) {
    std::string response;
    if (source.CallVarnix(tslData::BuildLinkText(false, "Varnix", "TrustList", nullptr),
                          response) != 0) {
        response.clear();
        // The older answer; its status says nothing the response does not.
        source.CallVarnix(tslData::BuildLinkText(false, "Varnix", "GetPublicKey", nullptr),
                          response);
    }
    Absorb(response);
}

void TrustStore::Absorb(std::string_view response) {
    static constexpr std::string_view kOpen = "<VAL>";
    static constexpr std::string_view kClose = "</VAL>";
    std::vector<std::string> issuers;
    bool first = true;
    std::size_t pos = 0;
    while ((pos = response.find(kOpen, pos)) != std::string_view::npos) {
        const std::size_t start = pos + kOpen.size();
        const std::size_t end = response.find(kClose, start);
        if (end == std::string_view::npos) break;
        const std::string value(response.substr(start, end - start));
        if (first) {
            // Imported outside the lock; only the swap needs it.
            KeyHandle key = ImportPublicKey(value.c_str());
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_publicKey.swap(key);
            first = false;
        }
        if (!value.empty() && value.back() == '=') issuers.push_back(value);
        pos = end + kClose.size();
    }
    if (issuers.empty()) return;
    const std::lock_guard<std::mutex> lock(m_mutex);
    // A key already listed is not listed again: while no public key comes
    // back, every refresh brings the same keys, and the list would grow
    // without end. The first copy is the one a check would reach anyway.
    auto list = std::make_shared<TrustList>();
    // Reserved first: the views below point into the strings, which must not
    // move (a short string keeps its bytes inside the object).
    list->reserve(m_list->size() + issuers.size());
    list->assign(m_list->begin(), m_list->end());
    std::unordered_set<std::string_view> known(list->begin(), list->end());
    for (std::string &issuer : issuers) {
        if (known.count(issuer) != 0) continue;
        list->push_back(std::move(issuer));
        known.insert(list->back());
    }
    m_list = std::move(list);
}

std::shared_ptr<const TrustList> TrustStore::Snapshot() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_list;
}

bool TrustStore::HasPublicKey() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_publicKey != nullptr;
}

namespace {

int32_t Check(tslRequest &request, TrustStore &store, TrustListSource &source, const char *tessel,
              const char *dispatch) {
    std::string text = request.m_xmlrequest.str();
    RemoveRequestAttribute(text, "credentials");

    if (store.ClaimRefresh(TslNow())) store.Refresh(source);

    std::optional<std::string> senderKey;
    if (!ValidateCredential(request.m_credentials, *store.Snapshot(), senderKey)) {
        TslLog(TSL_ERROR, "Tessel::Invoke [%s->%s] bad credentials\n", tessel, dispatch);
        return 405;
    }
    if (!senderKey) {
        TslLog(TSL_ERROR, "Tessel::Invoke [%s->%s] non-trusted credentials\n", tessel, dispatch);
        return 401;
    }
    KeyHandle key = ImportPublicKey(senderKey->c_str());
    senderKey.reset();
    if (!key) {
        TslLog(TSL_ERROR, "Tessel::Invoke [%s->%s] unable to generate public key\n", tessel,
               dispatch);
        return 401;
    }
    if (request.m_signature.empty()) {
        TslLog(TSL_ERROR, "Tessel::Invoke [%s->%s] no signature\n", tessel, dispatch);
        return 405;
    }
    RemoveRequestAttribute(text, "signature");
    if (!VerifyData(text.c_str(), key.get(), request.m_signature.c_str())) {
        TslLog(TSL_ERROR, "Tessel::Invoke [%s->%s] bad signature\n", tessel, dispatch);
        return 405;
    }
    return 0;
}

}  // namespace

int32_t AuthenticateRequest(tslRequest &request, TrustStore &store, TrustListSource &source,
                            const char *tessel, const char *dispatch) {
    try {
        return Check(request, store, source, tessel, dispatch);
    } catch (...) {
        TslLog(TSL_ERROR, "Tessel::Invoke: tessel [%s->%s] exception checking credentials\n",
               tessel, dispatch);
        return 405;
    }
}

}  // namespace tslSecurity
