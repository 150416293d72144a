#include "request/tsl_data.h"

#include "request/xerces_int.h"

tslData::tslData(const char *version, const char *tesselName, const char *dispatchName,
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

tslData::~tslData() = default;

int32_t tslData::ParseRequest() {
    XercesInt parser;
    return parser.Parse(*this);
}
