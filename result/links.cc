// Drill-down links: request texts that select another table of this plug-in,
// narrowed by predicates, and the predicates that go into them.
#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

#include "result/request_text.h"
#include "result/tsl_data.h"

namespace {

std::string_view OrEmpty(const char *text) {
    return text ? std::string_view(text) : std::string_view();
}

// Collects the const Predicate * arguments up to the terminating null.
std::vector<const Predicate *> CollectPredicates(va_list list) {
    std::vector<const Predicate *> predicates;
    for (;;) {
        const Predicate *p = va_arg(list, const Predicate *);
        predicates.push_back(p);
        if (p == nullptr) break;
    }
    return predicates;
}

}  // namespace

std::unique_ptr<Predicate> tslData::NewPredicate(int32_t logic, const char *target, int32_t oper,
                                                 const char *atom) {
    return NewPredicate(logic, 0, target, oper, atom, 0);
}

std::unique_ptr<Predicate> tslData::NewPredicate(int32_t logic, int32_t lparen, const char *target,
                                                 int32_t oper, const char *atom, int32_t rparen) {
    return std::make_unique<Predicate>(logic, lparen, tslString(target), oper, tslString(atom),
                                       rparen);
}

std::string tslData::BuildLink(const char *table, ...) const {
    va_list list;
    va_start(list, table);
    const std::vector<const Predicate *> predicates = CollectPredicates(list);
    va_end(list);
    return BuildLinkText(m_envelope, m_sponsorName.c_str(), table, predicates.data());
}

std::string tslData::BuildLinkText(bool envelope, const char *sponsor, const char *table,
                                   const Predicate *const *predicates) {
    return BuildRequestText(envelope, sponsor, table, predicates);
}

std::string tslData::BuildLinkText(bool envelope, const char *sponsor, const char *table, ...) {
    va_list list;
    va_start(list, table);
    const std::vector<const Predicate *> predicates = CollectPredicates(list);
    va_end(list);
    return BuildRequestText(envelope, sponsor, table, predicates.data());
}

std::string tslData::BuildRequestText(bool envelope, const char *sponsor, const char *table,
                                      const Predicate *const *predicates) {
    std::string text;
    text.reserve(512);
    text += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>";
    if (envelope) AppendRequestEnvelopeStart(text);
    text += "<tesselrequest version=\"2.0\">";
    text += "<sponsor version=\"2.0\">";
    AppendRequestContent(text, OrEmpty(sponsor));
    text += "</sponsor><portal location=\"\"/>";
    text += "<select><output><all/></output><from><db name=\"";
    AppendRequestAttribute(text, OrEmpty(table));
    text += "\"/></from><where>";
    AppendPredicateElements(text, predicates);
    text += "</where></select></tesselrequest>";
    if (envelope) AppendRequestEnvelopeEnd(text);
    return text;
}
