#include "result/request_text.h"

#include <string>

#include "request/tsl_util.h"

void AppendRequestAttribute(std::string &out, std::string_view text) {
    const bool quoted = text.find('"') != std::string_view::npos;
    out.reserve(out.size() + text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '=':
                if (quoted) {
                    out += "&#61;";
                } else {
                    out += c;
                }
                break;
            case '>':
                if (quoted) {
                    out += "&gt;";
                } else {
                    out += c;
                }
                break;
            default:
                out += c;
        }
    }
}

void AppendRequestContent(std::string &out, std::string_view text) {
    out.reserve(out.size() + text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>' && i >= 2 && text[i - 1] == ']' && text[i - 2] == ']') {
            out += "&gt;";
        } else {
            out += c;
        }
    }
}

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
