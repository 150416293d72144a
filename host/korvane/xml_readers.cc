#include "xml_readers.h"

#include <cstring>
#include <memory>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/OutOfMemoryException.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/TransService.hpp>
#include <xercesc/util/XMLString.hpp>
#include <xercesc/util/XMLUni.hpp>

#include "text_util.h"

namespace korvane {

namespace xc = XERCES_CPP_NAMESPACE;

namespace {

std::string ToUtf8(const XMLCh *text, XMLSize_t length) {
    if (text == nullptr || length == 0) return {};
    xc::TranscodeToStr utf8(text, length, "UTF-8");
    return std::string(reinterpret_cast<const char *>(utf8.str()), utf8.length());
}

std::string ToUtf8(const XMLCh *text) {
    return text == nullptr ? std::string() : ToUtf8(text, xc::XMLString::stringLen(text));
}

std::string Attribute(const xc::Attributes &attributes, const char *name) {
    xc::TranscodeFromStr wide(reinterpret_cast<const XMLByte *>(name), std::strlen(name), "UTF-8");
    return ToUtf8(attributes.getValue(wide.str()));
}

// Shared base: gathers character content since the last start tag and turns
// every reported error into a failed parse.
class TextGatherer : public xc::DefaultHandler {
  public:
    void characters(const XMLCh *const chars, const XMLSize_t length) override {
        m_text += ToUtf8(chars, length);
    }
    void error(const xc::SAXParseException &e) override { Fail(e); }
    void fatalError(const xc::SAXParseException &e) override { Fail(e); }
    const std::string &Error() const { return m_error; }

  protected:
    static std::string Local(const XMLCh *localname) { return AsciiLower(ToUtf8(localname)); }
    std::string m_text;

  private:
    void Fail(const xc::SAXParseException &e) {
        if (m_error.empty())
            m_error = "line " + std::to_string(e.getLineNumber()) + " column " +
                      std::to_string(e.getColumnNumber()) + ": " + ToUtf8(e.getMessage());
        throw e;
    }
    std::string m_error;
};

class RequestHandler : public TextGatherer {
  public:
    explicit RequestHandler(RequestSummary &summary) : m_summary(summary) {}

    void startElement(const XMLCh *const, const XMLCh *const localname, const XMLCh *const,
                      const xc::Attributes &attributes) override {
        m_text.clear();
        const std::string name = Local(localname);
        if (name == "db") {
            m_summary.table = Attribute(attributes, "name");
        } else if (name == "predicat") {
            m_inPredicate = true;
            m_target.clear();
            m_atom.clear();
        } else if (name == "target" && m_inPredicate) {
            m_target = Attribute(attributes, "name");
        } else if (name == "atom" && m_inPredicate) {
            m_atom = Attribute(attributes, "value");
        } else if (name == "filter") {
            m_summary.fields.emplace_back(Attribute(attributes, "col"),
                                          Attribute(attributes, "val"));
        }
    }
    void endElement(const XMLCh *const, const XMLCh *const localname, const XMLCh *const) override {
        if (m_inPredicate && Local(localname) == "predicat") {
            m_summary.fields.emplace_back(std::move(m_target), std::move(m_atom));
            m_inPredicate = false;
        }
    }

  private:
    RequestSummary &m_summary;
    bool m_inPredicate = false;
    std::string m_target;
    std::string m_atom;
};

class ResponseHandler : public TextGatherer {
  public:
    explicit ResponseHandler(ResponseTable &table) : m_table(table) {}

    void startElement(const XMLCh *const, const XMLCh *const localname, const XMLCh *const,
                      const xc::Attributes &attributes) override {
        m_text.clear();
        const std::string name = Local(localname);
        if (name == "response_table") {
            m_table.sawTable = true;
        } else if (name == "col") {
            m_table.columns.push_back(
                {Attribute(attributes, "NAME"), Attribute(attributes, "TYPE")});
        } else if (name == "rec") {
            m_table.records.emplace_back();
        } else if (name == "val") {
            if (m_table.records.empty()) m_table.records.emplace_back();
            m_table.records.back().push_back({std::string(), Attribute(attributes, "LINK")});
        } else if (name == "error") {
            m_table.hasError = true;
        }
    }
    void endElement(const XMLCh *const, const XMLCh *const localname, const XMLCh *const) override {
        const std::string name = Local(localname);
        if (name == "val" && !m_table.records.empty() && !m_table.records.back().empty())
            m_table.records.back().back().value = m_text;
        else if (name == "name" && m_table.name.empty())
            m_table.name = m_text;
        else if (name == "date")
            m_table.date = m_text;
        else if (name == "code")
            m_table.errorCode = m_text;
        else if (name == "desc")
            m_table.errorDescription = m_text;
        else if (name == "troubleshooting")
            m_table.troubleshooting.push_back(m_text);
        m_text.clear();
    }

  private:
    ResponseTable &m_table;
};

bool Parse(std::string_view text, TextGatherer &handler, std::string &error) {
    try {
        std::unique_ptr<xc::SAX2XMLReader> reader(xc::XMLReaderFactory::createXMLReader());
        reader->setFeature(xc::XMLUni::fgSAX2CoreValidation, false);
        reader->setFeature(xc::XMLUni::fgSAX2CoreNameSpaces, true);
        reader->setFeature(xc::XMLUni::fgXercesLoadExternalDTD, false);
        reader->setFeature(xc::XMLUni::fgXercesDisableDefaultEntityResolution, true);
        // Internal entities may not multiply a small document into a huge one.
        xc::SecurityManager limits;
        limits.setEntityExpansionLimit(1000);
        reader->setProperty(xc::XMLUni::fgXercesSecurityManager, &limits);
        reader->setContentHandler(&handler);
        reader->setErrorHandler(&handler);
        xc::MemBufInputSource source(reinterpret_cast<const XMLByte *>(text.data()), text.size(),
                                     "korvane-host", false);
        reader->parse(source);
        return true;
    } catch (const xc::SAXParseException &) {
        error = handler.Error();
    } catch (const xc::XMLException &e) {
        error = ToUtf8(e.getMessage());
    } catch (const xc::OutOfMemoryException &) {
        error = "out of memory";
    }
    if (error.empty()) error = "not a well-formed XML document";
    return false;
}

}  // namespace

XercesRuntime::XercesRuntime() {
    xc::XMLPlatformUtils::Initialize();
}
XercesRuntime::~XercesRuntime() {
    xc::XMLPlatformUtils::Terminate();
}

bool ReadRequestText(std::string_view text, RequestSummary &summary, std::string &error) {
    RequestHandler handler(summary);
    return Parse(text, handler, error);
}

bool ReadResponseTable(std::string_view text, ResponseTable &table, std::string &error) {
    ResponseHandler handler(table);
    return Parse(text, handler, error);
}

}  // namespace korvane
