#include "parse_helpers.h"

#include <gtest/gtest.h>

#include "request/xerces_int.h"
#include "request/xerces_library.h"
#include "support/test_host.h"
#include "support/xerces_environment.h"

namespace reqtest {

ParsedRequest ParseText(const std::string &text, bool raw) {
    ParsedRequest out;
    out.data = std::make_unique<tslData>("V02.000.02", "ReqTessel", "Dorvex", text.c_str());
    out.data->m_raw = raw;
    testhost::StderrCapture capture;
    capture.Start();
    out.status = out.data->ParseRequest();
    out.log = capture.Stop();
    return out;
}

ParsedConfig ParseConfig(const std::string &text, const char *tesselName) {
    ParsedConfig out;
    ConfigTarget target{tesselName, &out.entries, &out.raw};
    XercesInt parser;
    testhost::StderrCapture capture;
    capture.Start();
    out.status = parser.Parse(target, text);
    out.log = capture.Stop();
    return out;
}

std::vector<std::string> Messages(const std::string &log) {
    std::vector<std::string> lines;
    for (const std::string &line : testhost::SplitLines(log))
        lines.emplace_back(testhost::StripPrefix(line));
    return lines;
}

std::string Envelope(const std::string &body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
           "<soap:Body><tesselrequest version=\"1.0\" transactionid=\"tx-1\">"
           "<sponsor version=\"2.0\">Sponsor</sponsor><portal location=\"here\"/>" +
           body + "</tesselrequest></soap:Body></soap:Envelope>";
}

}  // namespace reqtest
