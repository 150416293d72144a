// tslRequest: what one "invoke" asked for. The construction context is copied
// in from the invoke's arguments; the request fields are filled by the parser
// from the request text and read directly by the stages after it (only the
// credential check rewrites one of them).
//
// Belongs to one invoke on one thread; takes no locks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "request/enums.h"
#include "request/predicate.h"
#include "request/tsl_string.h"

class tslRequest {
  public:
    tslRequest(const char *version, const char *tesselName, const char *dispatchName,
               const char *request, const char *optionalText = nullptr,
               const char *remoteAddress = nullptr, void *requestData = nullptr,
               uint32_t requestLength = 0);

    // Parses m_xmlrequest into the request fields: 0, or 404 on any parse
    // failure (fields read before the failure stay filled).
    int32_t ParseRequest();

    const char *GetRequest() const { return m_xmlrequest.c_str(); }

    // Construction context. m_xmlrequest holds the request text after the
    // quote repair: the exact text the parser reads and signatures cover.
    tslString m_version;
    tslString m_tesselName;
    tslString m_dispatchName;
    tslString m_xmlrequest;
    bool m_raw = false;
    tslString m_optionalText;
    tslString m_remoteAddress;
    void *m_requestData = nullptr;
    uint32_t m_requestLength = 0;

    // Request fields.
    tslString m_portalVersion;
    tslString m_credentials;
    tslString m_transactionId;
    tslString m_signature;
    tslString m_certificate;
    tslString m_sponsorVersion;
    tslString m_sponsorName;
    tslString m_portalLocation;
    tslString m_table;
    int32_t m_action = ACTION_NOACTION;
    int32_t m_outputKind = OUTPUT_NOOUTPUT;
    std::vector<tslString> m_outputTargets;
    std::vector<Predicate> m_predicates;
    bool m_envelope = false;
};
