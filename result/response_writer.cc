// The response text: the table (or error) response, the describe response, the
// SOAP envelope around either, and the HTTP header in raw mode.
//
// Every text that reaches the response, whether the method or the request
// supplied it, is written XML-escaped, so the response is well-formed whatever
// the request held.
#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/clock.h"
#include "request/tsl_util.h"
#include "result/http_header.h"
#include "result/request_text.h"
#include "result/tsl_data.h"

namespace {

constexpr std::string_view kXmlDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

void AppendEnvelopeLines(std::string &out) {
    out += "<soap:Envelope xmlns:soap=\"";
    out += kSoapEncodingUri;
    out += "\"\n xmlns=\"";
    out += kVendorEncodingUri;
    out += "\">\n";
}

// `<tag>`, the text escaped, `</tag>` and a line feed, behind `indent`.
void AppendElement(std::string &out, std::string_view indent, std::string_view tag,
                   std::string_view text) {
    out += indent;
    out += '<';
    out += tag;
    out += '>';
    AppendXmlEscaped(out, text);
    out += "</";
    out += tag;
    out += ">\n";
}

void AppendNumberElement(std::string &out, std::string_view tag, int32_t number) {
    out += "    <";
    out += tag;
    out += '>';
    out += std::to_string(number);
    out += "</";
    out += tag;
    out += ">\n";
}

// The table response's size: exact for the records, generous for the rest.
// The escaped size of every value and link written is kept, in writing order,
// so that writing them needs no second sizing pass.
std::size_t TableSize(const tslData &data, std::vector<std::size_t> &valueSizes) {
    std::size_t size = 1024 + XmlEscapedSize(data.m_tableName.view()) +
                       XmlEscapedSize(data.m_tableDate.view()) +
                       16 * (data.m_y.size() + data.m_yTrend.size());
    if (data.m_errorCode != 0) {
        size += XmlEscapedSize(data.m_errorDescription.view());
        for (const tslString &line : data.m_troubleshooting)
            size += 40 + XmlEscapedSize(line.view());
        return size;
    }
    for (const tslColumn &column : data.m_columns)
        size += 64 + XmlEscapedSize(column.name.view()) + XmlEscapedSize(column.tooltip.view());
    for (const auto &record : data.m_records) {
        size += sizeof("    <REC>\n    </REC>\n");
        const std::size_t count = std::min(record->values.size(), data.m_columns.size());
        for (std::size_t i = 0; i < count; ++i) {
            if (!data.m_columns[i].output) continue;
            const tslValue &value = record->values[i];
            if (!value.link.empty()) valueSizes.push_back(XmlEscapedSize(value.link.view()));
            valueSizes.push_back(XmlEscapedSize(value.text.view()));
            size += sizeof("      <VAL LINK=\"\"></VAL>\n") + valueSizes.back();
            if (!value.link.empty()) size += valueSizes[valueSizes.size() - 2];
        }
    }
    return size;
}

}  // namespace

void tslData::BuildResponse() {
    // Leave room for the raw-mode header so that putting it in front needs no
    // second copy of the body.
    constexpr std::size_t kHeaderRoom = 256;
    std::string out;
    if (m_action == ACTION_DESCRIBE) {
        out.reserve(2048 + kHeaderRoom);
        WriteDescribeResponse(out);
        if (!m_raw) {
            m_response.append(out);
            return;
        }
        out.insert(0, m_response.view());
    } else {
        std::vector<std::size_t> valueSizes;
        out.reserve(TableSize(*this, valueSizes) + kHeaderRoom);
        WriteTableResponse(out, valueSizes);
    }
    if (m_raw) out.insert(0, HttpResponseHeader(out.size(), TslNow()));
    m_response = tslString(std::move(out));
}

void tslData::WriteTableResponse(std::string &out, const std::vector<std::size_t> &valueSizes) {
    std::size_t nextSize = 0;
    out += kXmlDeclaration;
    if (m_envelope) {
        AppendEnvelopeLines(out);
        out += "<soap:Body>\n";
    }
    out += "<RESPONSE_TABLE>\n  <TBL_INFO>\n";
    AppendElement(out, "    ", "NAME", m_tableName.view());
    AppendElement(out, "    ", "DATE", m_tableDate.view());
    AppendNumberElement(out, "x", m_x);
    for (const int32_t y : m_y) AppendNumberElement(out, "y", y);
    AppendNumberElement(out, "xTrend", m_xTrend);
    for (const int32_t yTrend : m_yTrend) AppendNumberElement(out, "yTrend", yTrend);
    out += "  </TBL_INFO>\n";

    if (m_errorCode != 0) {
        out += "  <ERROR>\n";
        out += "    <CODE>" + std::to_string(m_errorCode) + "</CODE>\n";
        AppendElement(out, "    ", "DESC", m_errorDescription.view());
        for (const tslString &line : m_troubleshooting)
            AppendElement(out, "    ", "TROUBLESHOOTING", line.view());
        out += "  </ERROR>\n";
    } else {
        out += "  <COLS>\n";
        for (const tslColumn &column : m_columns) {
            if (!column.output) continue;
            out += "    <COL NAME=\"";
            AppendXmlEscaped(out, column.name.view());
            out += "\" TYPE=\"";
            out += tslUtil::TypeName(column.type);
            out += '"';
            if (!column.tooltip.empty()) {
                out += " TOOLTIP=\"";
                AppendXmlEscaped(out, column.tooltip.view());
                out += '"';
            }
            out += "/>\n";
        }
        out += "  </COLS>\n  <RECS>\n";
        for (std::unique_ptr<tslRecord> &record : m_records) {
            out += "    <REC>\n";
            // Values past the last column have no column to be written under.
            const std::size_t count = std::min(record->values.size(), m_columns.size());
            for (std::size_t i = 0; i < count; ++i) {
                if (!m_columns[i].output) continue;
                const tslValue &value = record->values[i];
                out += "      <VAL";
                if (!value.link.empty()) {
                    out += " LINK=\"";
                    AppendXmlEscaped(out, value.link.view(), valueSizes[nextSize++]);
                    out += '"';
                }
                out += '>';
                AppendXmlEscaped(out, value.text.view(), valueSizes[nextSize++]);
                out += "</VAL>\n";
            }
            out += "    </REC>\n";
            record.reset();  // written: its memory goes back at once
        }
        out += "  </RECS>\n";
    }
    // The records are consumed, written or not; nothing is accepted after the
    // response, so the UNIQUE bookkeeping goes with them.
    m_records.clear();
    m_uniqueSeen.clear();

    out += "</RESPONSE_TABLE>\n";
    if (m_envelope) out += "</soap:Body>\n</soap:Envelope>\n";
}

void tslData::WriteDescribeResponse(std::string &out) const {
    out += kXmlDeclaration;
    if (m_envelope) {
        AppendEnvelopeLines(out);
        out += "<soap:Body>";
    }
    out += "<RESPONSE>\n  <DESCRIPTION>\n";
    AppendElement(out, "    ", "SPONSOR_NAME", m_sponsorName.view());
    AppendElement(out, "    ", "SPONSOR_VERSION", m_sponsorVersion.view());
    AppendElement(out, "    ", "SPONSOR_CLASS_NAME", m_sponsorClassName.view());
    out += "    <APPLICATION_LIST>\n";
    for (const std::unique_ptr<ApplicationInfo> &application : m_applications) {
        out += "      <APPLICATION>\n";
        AppendElement(out, "        ", "APPLICATION_NAME", application->name.view());
        AppendElement(out, "        ", "APPLICATION_VERSION", application->version.view());
        AppendElement(out, "        ", "APPLICATION_CLASS_NAME", application->className.view());
        out +=
            "         <INSTALLATION_LOCATION/>\n"
            "         <EXECUTABLE_NAME/>\n"
            "         <APPLICATION_PORTS>\n"
            "           <PORT PROTOCOL=\"TCP\" NUMBER=\"509\"/>\n"
            "         </APPLICATION_PORTS>\n"
            "      </APPLICATION>\n";
    }
    out += "    </APPLICATION_LIST>\n  </DESCRIPTION>\n</RESPONSE>\n";
    if (m_envelope) out += "</soap:Body></soap:Envelope>";
}
