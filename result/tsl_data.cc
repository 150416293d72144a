// tslData's operations, each handed to the type whose job it is; here only
// the variable argument lists are unpacked.
#include "result/tsl_data.h"

#include <cstdarg>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/trace_log.h"
#include "request/tsl_util.h"
#include "result/request_text.h"
#include "result/response_writer.h"

namespace {

// Collects the pointer arguments up to the terminating null, which is kept.
template <typename T>
std::vector<T *> CollectUntilNull(va_list list) {
    std::vector<T *> items;
    items.reserve(8);
    for (;;) {
        T *item = va_arg(list, T *);
        items.push_back(item);
        if (item == nullptr) return items;
    }
}

}  // namespace

bool tslData::AddRecord(const char *first, ...) {
    va_list rest;
    va_start(rest, first);
    const bool accepted =
        m_result.AddRecord("tslData::AddRecord: bad input val\n", false, first, nullptr, rest);
    va_end(rest);
    return accepted;
}

bool tslData::AddLinkRecord(const char *first, const char *firstLink, ...) {
    va_list rest;
    va_start(rest, firstLink);
    const bool accepted =
        m_result.AddRecord("tslData::AddLinkRecord: bad input val\n", true, first, firstLink, rest);
    va_end(rest);
    return accepted;
}

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
    const std::vector<const Predicate *> predicates = CollectUntilNull<const Predicate>(list);
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
    const std::vector<const Predicate *> predicates = CollectUntilNull<const Predicate>(list);
    va_end(list);
    return BuildRequestText(envelope, sponsor, table, predicates.data());
}

std::string tslData::BuildRequestText(bool envelope, const char *sponsor, const char *table,
                                      const Predicate *const *predicates) {
    RequestHeader header;
    header.envelope = envelope;
    header.portalVersion = "2.0";
    header.sponsorVersion = "2.0";
    header.sponsorName = sponsor != nullptr ? sponsor : "";
    return BuildRequest(header, table != nullptr ? table : "", predicates);
}

void tslData::BuildResponse() {
    const ResponseWriter writer(m_envelope, m_raw);
    if (m_action == ACTION_DESCRIBE) {
        m_response = writer.Describe(std::string_view(m_response.c_str(), m_response.size()), *this,
                                     m_description);
    } else {
        m_response = writer.Table(m_result);
    }
}

std::optional<std::string> tslData::BuildAnyMethodTemplate(const char *link, const char *method,
                                                           const char *version, bool aggregate,
                                                           const char *description,
                                                           const char *folder,
                                                           const char *const *required) const {
    return MethodTemplate(m_sponsorName.view(), link, method, version, aggregate, description,
                          folder, required);
}

std::optional<std::string> tslData::BuildAnyMethodTemplate(int32_t methodType, const char *method,
                                                           const char *version, bool aggregate,
                                                           const char *description,
                                                           const char *folder,
                                                           const char *const *required) const {
    return BuildAnyMethodTemplate(tslUtil::MethodTypeName(methodType), method, version, aggregate,
                                  description, folder, required);
}

std::optional<std::string> tslData::BuildAnyMethodTemplateV(int32_t methodType, const char *method,
                                                            const char *version, bool aggregate,
                                                            const char *description,
                                                            const char *folder, ...) const {
    va_list list;
    va_start(list, folder);
    const std::vector<const char *> required = CollectUntilNull<const char>(list);
    va_end(list);
    return BuildAnyMethodTemplate(methodType, method, version, aggregate, description, folder,
                                  required.data());
}

std::string tslData::BuildQuery(int32_t action, const char *table, ...) const {
    RequestHeader header;
    header.declaration = false;
    header.envelope = m_envelope;
    header.portalVersion = m_portalVersion.view();
    header.sponsorVersion = m_sponsorVersion.view();
    header.sponsorName = m_sponsorName.view();
    header.portalLocation = m_portalLocation.view();
    if (action != ACTION_SELECT) return BuildRequest(header, nullptr, nullptr);
    va_list list;
    va_start(list, table);
    const std::vector<const Predicate *> predicates = CollectUntilNull<const Predicate>(list);
    va_end(list);
    return BuildRequest(header, table != nullptr ? table : "", predicates.data());
}

std::unique_ptr<ApplicationInfo> tslData::BuildApplication(const char *name, const char *version,
                                                           const char *className) {
    return NewApplicationInfo(name, version, className);
}

bool tslData::SetDescription(ApplicationInfo *first, ...) {
    // Ownership of every argument passes here, so take it before anything else.
    std::vector<std::unique_ptr<ApplicationInfo>> given;
    given.emplace_back(first);
    if (first != nullptr) {
        va_list list;
        va_start(list, first);
        for (ApplicationInfo *next : CollectUntilNull<ApplicationInfo>(list))
            if (next != nullptr) given.emplace_back(next);
        va_end(list);
    }
    if (first == nullptr) {
        TslLog(TSL_ERROR, "tslData::SetDescription: bad parameters\n");
        return false;
    }
    std::string className = "VKN_";
    className += m_sponsorName.view();
    className += "_Tessel";
    m_description.sponsorClassName = tslString(std::move(className));
    for (std::unique_ptr<ApplicationInfo> &application : given)
        m_description.applications.push_back(std::move(application));
    return true;
}
