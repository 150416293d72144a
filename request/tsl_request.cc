#include "request/tsl_request.h"

#include "request/quote_repair.h"
#include "request/xerces_int.h"

tslRequest::tslRequest(const char *version, const char *tesselName, const char *dispatchName,
                       const char *request, const char *optionalText, const char *remoteAddress,
                       void *requestData, uint32_t requestLength)
    : m_version(version),
      m_tesselName(tesselName),
      m_dispatchName(dispatchName),
      m_xmlrequest(RepairQuotes(request ? request : "")),
      m_optionalText(optionalText),
      m_remoteAddress(remoteAddress),
      m_requestData(requestData),
      m_requestLength(requestLength) {}

int32_t tslRequest::ParseRequest() {
    XercesInt parser;
    return parser.Parse(*this);
}
