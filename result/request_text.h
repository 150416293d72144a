// The request texts the plug-in builds itself: drill-down links, catalogue
// queries and requests to other plug-ins. They carry no transaction id,
// credentials or signature.
#pragma once

#include <string>
#include <string_view>

#include "request/predicate.h"

inline constexpr const char *kSoapEncodingUri = "http://schemas.xmlsoap.org/soap/encoding/";
inline constexpr const char *kVendorEncodingUri = "http://korvane.example/morvium/encoding/";

// What a built request says about itself and its sender.
struct RequestHeader {
    bool declaration = true;  // starts with an XML declaration
    bool envelope = false;    // inside a SOAP envelope
    std::string_view portalVersion;
    std::string_view sponsorVersion;
    std::string_view sponsorName;
    std::string_view portalLocation;
};

// The request text of `header`, selecting every column of `table` with one
// predicate element per predicate of the null-terminated array (which may
// itself be null), each but the first preceded by its logic element. A null
// `table` gives a request without a select. No line feeds; the texts are
// escaped so that the parser reads them back as they are.
std::string BuildRequest(const RequestHeader &header, const char *table,
                         const Predicate *const *predicates);
