#include "result/request_text.h"

#include <string>

#include "base/escaping.h"
#include "request/tsl_util.h"

namespace {

void AppendPredicateElements(std::string &out, const Predicate *const *predicates) {
    if (predicates == nullptr) return;
    for (std::size_t i = 0; predicates[i] != nullptr; ++i) {
        const Predicate &p = *predicates[i];
        if (i > 0) {
            out += "<logic oper=\"";
            out += tslUtil::LogicName(p.logic);
            out += "\"/>";
        }
        out += "<predicat";
        if (p.lparen > 0) out += " lparen=\"" + std::to_string(p.lparen) + "\"";
        if (p.rparen > 0) out += " rparen=\"" + std::to_string(p.rparen) + "\"";
        out += "><compare oper=\"";
        out += tslUtil::OperatorName(p.oper);
        out += "\"><target name=\"";
        AppendRequestAttribute(out, p.target.view());
        out += "\"></target><atom value=\"";
        AppendRequestAttribute(out, p.atom.view());
        out += "\"></atom></compare></predicat>";
    }
}

}  // namespace

std::string BuildRequest(const RequestHeader &header, const char *table,
                         const Predicate *const *predicates) {
    std::string text;
    text.reserve(1024);  // a drill-down link fits
    if (header.declaration) text += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>";
    if (header.envelope) {
        text += "<soap:Envelope xmlns:soap=\"";
        text += kSoapEncodingUri;
        text += "\" xmlns=\"";
        text += kVendorEncodingUri;
        text += "\"><soap:Body>";
    }
    text += "<tesselrequest version=\"";
    AppendRequestAttribute(text, header.portalVersion);
    text += "\"><sponsor version=\"";
    AppendRequestAttribute(text, header.sponsorVersion);
    text += "\">";
    AppendRequestContent(text, header.sponsorName);
    text += "</sponsor><portal location=\"";
    AppendRequestAttribute(text, header.portalLocation);
    text += "\"/>";
    if (table != nullptr) {
        text += "<select><output><all/></output><from><db name=\"";
        AppendRequestAttribute(text, table);
        text += "\"/></from><where>";
        AppendPredicateElements(text, predicates);
        text += "</where></select>";
    }
    text += "</tesselrequest>";
    if (header.envelope) text += "</soap:Body></soap:Envelope>";
    return text;
}
