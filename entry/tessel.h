// Tessel: the plug-in's one long-lived object, created by "initialize" and
// destroyed by "terminate" or library unload.
//
// Holds the names the host gave it, the host callback, the configuration
// entries, the trust state (issuer keys, public key, last fetch) and the event
// record. During serving, names, configuration and flags are only read; the
// trust state guards itself (see security/trust_store.h); the event record is
// used under the event mutex.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dorvex.h"
#include "request/config_entry.h"
#include "request/tsl_string.h"
#include "security/trust_store.h"

class tslData;
class EventRecord;

// The trust list comes from Varnix through the host's "CallTessel".
class Tessel final : public tslSecurity::TrustListSource {
  public:
    // Any text may be null except the names. Never throws for a bad
    // configuration: parse errors are logged and the entries read so far kept.
    Tessel(const char *version, const char *name, const char *dispatchName, void *jvm,
           gwcbfunc callback, const char *configuration);
    // Runs the application's "Terminate" hook first, closes the log file last.
    ~Tessel() override;
    Tessel(const Tessel &) = delete;
    Tessel &operator=(const Tessel &) = delete;

    // The whole invoke pipeline for one request; see dorvex.h for the arguments.
    // The request record, the log lines and the choice to send an execution
    // record use the version and names of this call (null reads as "").
    int32_t Invoke(const char *version, const char *tesselName, const char *dispatchName, void *jvm,
                   const char *request, char **response, const char *optionalText,
                   const char *remoteAddress, void *requestData, uint32_t *length);

    // Calls the application hook with "Run" and the request record.
    int32_t RunMethod(tslData &request);

    // Hands `text` (URL-encoded) to the host's "SendEvent"; the host's answer,
    // 0 without a callback or when the callback throws.
    int32_t SendEvent(const tslString &text);
    // The same for a text already URL-encoded; `text` is the plain form, for the
    // log should the callback throw.
    int32_t SendEncodedEvent(const char *encoded, const tslString &text);

    // Asks the host to pass `request` (plain text; sent URL-encoded) to plug-in
    // `remote` on gateway `host`. Returns the host's status, 0 on success, or 1
    // without a callback or when the callback throws (logged). `*response` gets
    // the host's malloc'ed answer or null; the caller frees it.
    int32_t CallTessel(const char *host, const char *remote, const char *request, char **response);
    // CallTessel to Varnix on this machine, the answer copied and freed.
    int32_t CallVarnix(const std::string &request, std::string &response) override;
    // Fetches the trust list and the public key from Varnix and takes them in.
    void RefreshTrustList() { m_trust.Refresh(*this); }

    void SetKey(uint32_t key) { m_key = key; }
    int32_t AuthCheck(uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4, uintptr_t a5);

    const tslString &Name() const { return m_name; }
    const tslString &DispatchName() const { return m_dispatchName; }
    const tslString &Version() const { return m_version; }
    const tslString &ConfigData() const { return m_configdata; }
    const std::vector<ConfigEntry> &ConfigEntries() const { return m_entries; }
    gwcbfunc Callback() const { return m_callback; }
    bool Raw() const { return m_raw; }
    uint32_t Key() const { return m_key; }

  private:
    using AuthHook = int32_t (*)(uintptr_t context, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                                 uintptr_t);

    void ApplyDebugLevels();
    void SendExecutionRecord(tslData &request, int32_t result, std::time_t start, std::time_t end,
                             std::size_t responseSize);

    tslString m_name;
    tslString m_configdata;
    std::vector<ConfigEntry> m_entries;
    tslSecurity::TrustStore m_trust;
    tslString m_dispatchName;
    void *m_jvm = nullptr;
    bool m_raw = false;
    tslString m_version;
    gwcbfunc m_callback = nullptr;
    std::unique_ptr<EventRecord> m_event;
    std::mutex m_eventMutex;
    uint32_t m_key = 0;
    AuthHook m_authHook = nullptr;
    uintptr_t m_authContext = 0;
    bool m_xercesReady = false;
};
