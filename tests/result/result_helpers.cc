#include "result_helpers.h"

#include <gtest/gtest.h>

#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax/SAXParseException.hpp>
#include <xercesc/sax2/Attributes.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>
#include <xercesc/util/PlatformUtils.hpp>

#include "request/xerces_library.h"
#include "support/test_host.h"
#include "support/xerces_environment.h"

namespace {

std::string Utf8(const XMLCh *text) {
    std::string out;
    if (text != nullptr) AppendUtf8FromUtf16(out, text, Utf16Length(text));
    return out;
}

class Collector : public xercesc::DefaultHandler {
  public:
    explicit Collector(restest::XmlReading &out) : m_out(out) {}

    void startElement(const XMLCh *, const XMLCh *localname, const XMLCh *,
                      const xercesc::Attributes &attrs) override {
        restest::Element element;
        element.name = Utf8(localname);
        for (XMLSize_t i = 0; i < attrs.getLength(); ++i)
            element.attributes[Utf8(attrs.getQName(i))] = Utf8(attrs.getValue(i));
        m_open.push_back(m_out.elements.size());
        m_out.elements.push_back(std::move(element));
    }
    void endElement(const XMLCh *, const XMLCh *, const XMLCh *) override {
        if (!m_open.empty()) m_open.pop_back();
    }
    void characters(const XMLCh *chars, XMLSize_t length) override {
        if (!m_open.empty()) AppendUtf8FromUtf16(m_out.elements[m_open.back()].text, chars, length);
    }
    void error(const xercesc::SAXParseException &e) override { Fail(e); }
    void fatalError(const xercesc::SAXParseException &e) override { Fail(e); }

    bool failed = false;

  private:
    void Fail(const xercesc::SAXParseException &e) {
        if (!failed) m_out.error = Utf8(e.getMessage());
        failed = true;
    }

    restest::XmlReading &m_out;
    std::vector<std::size_t> m_open;
};

}  // namespace

namespace restest {

std::string BareRequest(const std::string &inner, const std::string &sponsor) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tesselrequest version=\"1.0\" "
           "transactionid=\"t-1\"><sponsor version=\"2.0\">" +
           sponsor + "</sponsor><portal location=\"here\"/>" + inner + "</tesselrequest>";
}

std::string EnvelopedRequest(const std::string &inner, const std::string &sponsor) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
           "<tesselrequest version=\"1.0\" transactionid=\"t-1\"><sponsor version=\"2.0\">" +
           sponsor + "</sponsor><portal location=\"here\"/>" + inner +
           "</tesselrequest></soap:Body></soap:Envelope>";
}

std::string Select(const std::string &table, const std::string &output, const std::string &where) {
    return "<select><output>" + output + "</output><from><db name=\"" + table +
           "\"/></from><where>" + where + "</where></select>";
}

std::unique_ptr<tslData> Parsed(const std::string &request, bool raw) {
    auto data = std::make_unique<tslData>("V02.000.02", "ResultTessel", "Dorvex", request.c_str());
    data->m_raw = raw;
    EXPECT_EQ(data->ParseRequest(), 0) << request;
    return data;
}

std::unique_ptr<tslRecord> Record(const std::vector<std::string> &values) {
    auto record = std::make_unique<tslRecord>();
    for (const std::string &value : values) record->values.push_back({tslString(value), {}});
    return record;
}

std::vector<std::string> LogLines(const std::function<void()> &action) {
    testhost::StderrCapture capture;
    capture.Start();
    action();
    const std::string log = capture.Stop();
    std::vector<std::string> lines;
    for (const std::string &line : testhost::SplitLines(log))
        lines.emplace_back(testhost::StripPrefix(line));
    return lines;
}

std::vector<const Element *> XmlReading::All(const std::string &name) const {
    std::vector<const Element *> found;
    for (const Element &element : elements)
        if (element.name == name) found.push_back(&element);
    return found;
}

XmlReading ReadXml(const std::string &text) {
    XmlReading reading;
    std::unique_ptr<xercesc::SAX2XMLReader> reader(xercesc::XMLReaderFactory::createXMLReader());
    reader->setFeature(xercesc::XMLUni::fgSAX2CoreNameSpaces, true);
    reader->setFeature(xercesc::XMLUni::fgSAX2CoreValidation, false);
    reader->setFeature(xercesc::XMLUni::fgXercesLoadExternalDTD, false);
    Collector collector(reading);
    reader->setContentHandler(&collector);
    reader->setErrorHandler(&collector);
    xercesc::MemBufInputSource source(reinterpret_cast<const XMLByte *>(text.data()), text.size(),
                                      "restest", false);
    try {
        reader->parse(source);
    } catch (...) {
        collector.failed = true;
    }
    reading.wellFormed = !collector.failed;
    return reading;
}

std::string BodyOf(const std::string &rawResponse) {
    const std::size_t end = rawResponse.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : rawResponse.substr(end + 4);
}

}  // namespace restest
