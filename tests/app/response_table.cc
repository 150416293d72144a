#include "response_table.h"

#include <memory>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>

#include "request/tsl_string.h"
#include "result/tsl_data.h"
#include "support/test_host.h"

using namespace xercesc;

namespace apptest {
namespace {

class TableHandler : public DefaultHandler {
  public:
    explicit TableHandler(Table &table) : m_table(table) {}

    void startElement(const XMLCh *, const XMLCh *localname, const XMLCh *,
                      const Attributes &attrs) override {
        const std::string name = tslString(localname).str();
        m_text.clear();
        if (name == "COL") {
            m_table.columns.push_back(tslString(attrs.getValue(u"NAME")).str());
            m_table.types.push_back(tslString(attrs.getValue(u"TYPE")).str());
        } else if (name == "REC") {
            m_table.rows.emplace_back();
        } else if (name == "VAL") {
            m_link = tslString(attrs.getValue(u"LINK")).str();
        }
    }
    void characters(const XMLCh *chars, XMLSize_t length) override {
        std::string text;
        AppendUtf8FromUtf16(text, chars, length);
        m_text += text;
    }
    void endElement(const XMLCh *, const XMLCh *localname, const XMLCh *) override {
        const std::string name = tslString(localname).str();
        if (name == "NAME") m_table.name = m_text;
        if (name == "VAL" && !m_table.rows.empty()) m_table.rows.back().push_back({m_text, m_link});
        if (name == "CODE") m_table.errorCode = std::atoi(m_text.c_str());
        if (name == "DESC") m_table.description = m_text;
        if (name == "TROUBLESHOOTING") m_table.troubleshooting.push_back(m_text);
        if (name == "APPLICATION_NAME") m_table.applications.push_back(m_text);
        if (name == "SPONSOR_CLASS_NAME") m_table.sponsorClass = m_text;
        m_text.clear();
    }
    void fatalError(const SAXParseException &) override { m_failed = true; }
    void error(const SAXParseException &) override { m_failed = true; }
    bool Failed() const { return m_failed; }

  private:
    Table &m_table;
    std::string m_text;
    std::string m_link;
    bool m_failed = false;
};

}  // namespace

std::vector<std::string> Table::FirstColumn() const {
    std::vector<std::string> names;
    for (const auto &row : rows) names.push_back(row.empty() ? std::string() : row[0].text);
    return names;
}

Table ReadTable(const std::string &response) {
    Table table;
    const std::size_t start = response.find("<?xml");
    if (start == std::string::npos) return table;
    std::unique_ptr<SAX2XMLReader> reader(XMLReaderFactory::createXMLReader());
    reader->setFeature(XMLUni::fgSAX2CoreNameSpaces, true);
    TableHandler handler(table);
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    MemBufInputSource source(reinterpret_cast<const XMLByte *>(response.data() + start),
                             response.size() - start, "response", false);
    try {
        reader->parse(source);
        table.wellFormed = !handler.Failed();
    } catch (...) {
        table.wellFormed = false;
    }
    return table;
}

std::vector<std::pair<std::string, std::string>> ReadEvent(const std::string &urlEncoded) {
    tslData data("V02.0", "Varnix", "Dorvex", testhost::UrlDecode(urlEncoded).c_str());
    std::vector<std::pair<std::string, std::string>> fields;
    if (data.ParseRequest() != 0) return fields;
    for (const Predicate &p : data.m_predicates) fields.emplace_back(p.target.str(), p.atom.str());
    return fields;
}

}  // namespace apptest
