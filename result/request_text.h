// Pieces of the request texts the plug-in builds itself: drill-down links,
// catalogue queries and requests to other plug-ins.
#pragma once

#include <string>
#include <string_view>

#include "request/predicate.h"

inline constexpr const char *kSoapEncodingUri = "http://schemas.xmlsoap.org/soap/encoding/";
inline constexpr const char *kVendorEncodingUri = "http://korvane.example/morvium/encoding/";

// Appends a text for an attribute value of a built request, so that the parser
// reads back exactly `text`: "&" and "<" become entity references; a backslash,
// tab, line feed and carriage return are written as the parser's backslash
// escapes. Double quotes stay as they are for the quote repair to mend; in a
// text that holds one, "=" and ">" are written as character references, as the
// repair reads an "=" or ">" as the end of a value.
void AppendRequestAttribute(std::string &out, std::string_view text);

// Appends a text for element content of a built request: "&" and "<" become
// entity references, and so does the ">" of a "]]>".
void AppendRequestContent(std::string &out, std::string_view text);

// `<soap:Envelope ...><soap:Body>` and its end, without line feeds.
void AppendRequestEnvelopeStart(std::string &out);
void AppendRequestEnvelopeEnd(std::string &out);

// One `predicat` element per predicate of the null-terminated array (which may
// itself be null), each but the first preceded by its `logic` element.
void AppendPredicateElements(std::string &out, const Predicate *const *predicates);
