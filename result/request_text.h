// Pieces of the request texts the plug-in builds itself: drill-down links,
// catalogue queries and requests to other plug-ins.
#pragma once

#include <string>
#include <string_view>

#include "base/escaping.h"
#include "request/predicate.h"

inline constexpr const char *kSoapEncodingUri = "http://schemas.xmlsoap.org/soap/encoding/";
inline constexpr const char *kVendorEncodingUri = "http://korvane.example/morvium/encoding/";

// `<soap:Envelope ...><soap:Body>` and its end, without line feeds.
void AppendRequestEnvelopeStart(std::string &out);
void AppendRequestEnvelopeEnd(std::string &out);

// One `predicat` element per predicate of the null-terminated array (which may
// itself be null), each but the first preceded by its `logic` element.
void AppendPredicateElements(std::string &out, const Predicate *const *predicates);
