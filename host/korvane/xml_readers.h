// Readers for the two XML documents the host looks into: request texts (the
// events and trust-list requests the plug-in sends to Varnix) and the
// RESPONSE_TABLE documents the plug-in answers with. Both use the Xerces-C
// SAX2 reader with DTDs refused, and match element names by local name
// ignoring case, so SOAP-wrapped documents read the same as bare ones.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvane {

// Keeps the Xerces library initialised for its lifetime (the library counts
// nested initialisations, so the plug-in's own calls do not interfere).
class XercesRuntime {
  public:
    XercesRuntime();
    ~XercesRuntime();
    XercesRuntime(const XercesRuntime &) = delete;
    XercesRuntime &operator=(const XercesRuntime &) = delete;
};

// A request text reduced to what Varnix needs: the table and the
// target/atom pairs of its predicates, in document order.
struct RequestSummary {
    std::string table;
    std::vector<std::pair<std::string, std::string>> fields;
};

// False with `error` set when the text is not well-formed XML.
bool ReadRequestText(std::string_view text, RequestSummary &summary, std::string &error);

struct ResponseCell {
    std::string value;
    std::string link;  // a complete request text, or empty
};

struct ResponseColumn {
    std::string name;
    std::string type;
};

struct ResponseTable {
    bool sawTable = false;  // a RESPONSE_TABLE element was present
    std::string name;
    std::string date;
    std::vector<ResponseColumn> columns;
    std::vector<std::vector<ResponseCell>> records;
    bool hasError = false;
    std::string errorCode;
    std::string errorDescription;
    std::vector<std::string> troubleshooting;
};

// Reads a RESPONSE_TABLE document (bare or inside a SOAP envelope). False
// with `error` set when it is not well-formed XML.
bool ReadResponseTable(std::string_view text, ResponseTable &table, std::string &error);

}  // namespace korvane
