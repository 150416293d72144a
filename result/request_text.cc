#include "result/request_text.h"

#include <string>

#include "request/tsl_util.h"

void AppendRequestEnvelopeStart(std::string &out) {
    out += "<soap:Envelope xmlns:soap=\"";
    out += kSoapEncodingUri;
    out += "\" xmlns=\"";
    out += kVendorEncodingUri;
    out += "\"><soap:Body>";
}

void AppendRequestEnvelopeEnd(std::string &out) {
    out += "</soap:Body></soap:Envelope>";
}

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
