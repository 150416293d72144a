// XercesInt: the adapter between the plug-in and the Xerces-C SAX2 reader.
//
// Request mode fills a tslRequest's fields from its request text;
// configuration mode turns a configuration text into configuration entries.
// The grammar is loose: elements are known by their local name (ignoring case)
// wherever they stand, and anything else is skipped. One adapter serves one
// parse on one thread.
//
// Request mode refuses, as a fatal error at the place it is found, a DOCTYPE,
// nesting deeper than 10,000 elements, more than 1,000 namespace declarations
// in scope, nesting and prefixes that would cost the reader more than 10^8
// namespace lookups, more than 20,000 predicates, more than
// 10,000 output columns, a sponsor name, sponsor version, portal version or
// portal location longer than 4,096 bytes, and (before the parse starts) a
// start tag with more than 10,000 attributes or more than 1 MiB from one "<"
// to the next.
#pragma once

#include <memory>
#include <string>
#include <vector>
#include <xercesc/sax/Locator.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>

#include "request/config_entry.h"
#include "request/predicate.h"
#include "request/tsl_string.h"

class tslRequest;

// Where a configuration parse puts what it reads.
struct ConfigTarget {
    const char *tesselName = "";
    std::vector<ConfigEntry> *entries = nullptr;
    bool *raw = nullptr;
};

class XercesInt : public xercesc::DefaultHandler {
  public:
    XercesInt() = default;
    ~XercesInt() override = default;

    // 0 when the text parsed without errors, 404 otherwise.
    int32_t Parse(tslRequest &request);
    // Configuration mode. Exceptions while setting up the reader are not caught.
    int32_t Parse(const ConfigTarget &config, const std::string &text);

    // Content handler.
    void setDocumentLocator(const xercesc::Locator *locator) override { m_locator = locator; }
    void characters(const XMLCh *chars, XMLSize_t length) override;
    void ignorableWhitespace(const XMLCh *, XMLSize_t) override {}
    void endDocument() override { m_text.clear(); }
    void startElement(const XMLCh *uri, const XMLCh *localname, const XMLCh *qname,
                      const xercesc::Attributes &attrs) override;
    void endElement(const XMLCh *uri, const XMLCh *localname, const XMLCh *qname) override;
    // Count the namespace declarations in scope (request and configuration).
    void startPrefixMapping(const XMLCh *prefix, const XMLCh *uri) override;
    void endPrefixMapping(const XMLCh *prefix) override;
    // Lexical handler: a DOCTYPE ends the parse before its internal subset is read.
    void startDTD(const XMLCh *name, const XMLCh *publicId, const XMLCh *systemId) override;

    // Error handler.
    void warning(const xercesc::SAXParseException &exc) override;
    void error(const xercesc::SAXParseException &exc) override;
    void fatalError(const xercesc::SAXParseException &exc) override;
    void resetErrors() override { m_errors = 0; }

    int32_t ErrorCount() const { return m_errors; }

  private:
    int32_t Run(const char *text, std::size_t length, const char *systemId, bool requestMode);
    void StartRequestElement(const XMLCh *uri, const XMLCh *localname,
                             const xercesc::Attributes &attrs);
    void StartConfigElement(const XMLCh *localname, const xercesc::Attributes &attrs);
    void EndConfigElement(const XMLCh *localname);
    bool QuietErrors() const;
    // Counts a predicate begun; stops the parse past the most a request may hold.
    void CountPredicate();
    // Counts the reader's namespace lookups for an element just begun; stops
    // the parse past their bound.
    void CountNamespaceWork(const xercesc::Attributes &attrs);
    // Stops the parse at a sponsor or portal field too long to be echoed.
    void CheckEchoed(const tslString &field) const;
    // Stops the parse as a fatal error at the current position.
    [[noreturn]] void Reject(const char *reason) const;

    tslRequest *m_request = nullptr;
    const ConfigTarget *m_config = nullptr;
    tslString m_text;
    bool m_inOutput = false;
    std::unique_ptr<Predicate> m_predicate;
    int32_t m_pendingLogic = 0;
    int32_t m_errors = 0;
    int32_t m_depth = 0;  // elements open
    std::size_t m_predicateCount = 0;
    std::size_t m_inScope = 0;  // namespace declarations
    std::size_t m_namespaceWork = 0;
    tslString m_message;
    // Configuration entries being read, outermost first; each is appended to
    // the target exactly once, when its element closes.
    std::vector<ConfigEntry> m_openEntries;
    const xercesc::Locator *m_locator = nullptr;
};
