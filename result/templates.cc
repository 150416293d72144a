// The method catalogue: "Application" entries and queries for the "Define"
// table, and the application list of the describe response.
#include <cstdarg>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/trace_log.h"
#include "request/tsl_util.h"
#include "result/request_text.h"
#include "result/tsl_data.h"

std::optional<std::string> tslData::BuildAnyMethodTemplate(const char *link, const char *method,
                                                           const char *version, bool aggregate,
                                                           const char *description,
                                                           const char *folder,
                                                           const char *const *required) const {
    if (link == nullptr || method == nullptr || version == nullptr || description == nullptr ||
        folder == nullptr) {
        TslLog(TSL_ERROR, "tslData::BuildAnyMethodTemplate: bad parameters\n");
        return std::nullopt;
    }
    std::string text = "<Application>\n  <ZornClass>VKN_";
    AppendXmlEscaped(text, m_sponsorName.view());
    text += "_Tessel</ZornClass>\n  <MethodName version=\"";
    AppendXmlEscaped(text, version);
    text += "\">";
    AppendXmlEscaped(text, method);
    text += "</MethodName>\n  <Content_Type>portal/dynamic-content</Content_Type>\n";
    text += aggregate ? "  <Methods aggregatesupport=\"YES\">\n"
                      : "  <Methods aggregatesupport=\"NO\">\n";
    text += "    <Link>";
    AppendXmlEscaped(text, link);
    text += "    </Link>\n";
    if (required != nullptr) {
        for (std::size_t i = 0; required[i] != nullptr; ++i) {
            text += "    <Required_Fields>";
            AppendXmlEscaped(text, required[i]);
            text += "</Required_Fields>\n";
        }
    }
    text += "  </Methods>\n  <Locale>en_US</Locale>\n  <Description>";
    AppendXmlEscaped(text, description);
    text += "</Description>\n  <Folder_Path>";
    AppendXmlEscaped(text, folder);
    text += "</Folder_Path>\n</Application>\n";
    return text;
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
    std::vector<const char *> required;
    va_list list;
    va_start(list, folder);
    for (;;) {
        const char *field = va_arg(list, const char *);
        required.push_back(field);
        if (field == nullptr) break;
    }
    va_end(list);
    return BuildAnyMethodTemplate(methodType, method, version, aggregate, description, folder,
                                  required.data());
}

std::string tslData::BuildQuery(int32_t action, const char *table, ...) const {
    std::string text;
    text.reserve(512);
    if (m_envelope) AppendRequestEnvelopeStart(text);
    text += "<tesselrequest version=\"";
    AppendRequestAttribute(text, m_portalVersion.view());
    text += "\"><sponsor version=\"";
    AppendRequestAttribute(text, m_sponsorVersion.view());
    text += "\">";
    AppendRequestContent(text, m_sponsorName.view());
    text += "</sponsor><portal location=\"";
    AppendRequestAttribute(text, m_portalLocation.view());
    text += "\"/>";
    if (action == ACTION_SELECT) {
        std::vector<const Predicate *> predicates;
        va_list list;
        va_start(list, table);
        for (;;) {
            const Predicate *p = va_arg(list, const Predicate *);
            predicates.push_back(p);
            if (p == nullptr) break;
        }
        va_end(list);
        text += "<select><output><all/></output><from><db name=\"";
        AppendRequestAttribute(text, table ? std::string_view(table) : std::string_view());
        text += "\"/></from><where>";
        AppendPredicateElements(text, predicates.data());
        text += "</where></select>";
    }
    text += "</tesselrequest>";
    if (m_envelope) AppendRequestEnvelopeEnd(text);
    return text;
}

std::unique_ptr<ApplicationInfo> tslData::BuildApplication(const char *name, const char *version,
                                                           const char *className) {
    if (name == nullptr || version == nullptr || className == nullptr) {
        TslLog(TSL_ERROR, "tslData::BuildApplication: bad parameters\n");
        return nullptr;
    }
    const std::string_view cls(className);
    if (cls.size() < 4 || !cls.ends_with("App")) {
        TslLog(TSL_ERROR, "tslData::BuildApplication: classname must end with \"App\"\n");
        return nullptr;
    }
    auto application = std::make_unique<ApplicationInfo>();
    application->name = name;
    application->version = version;
    application->className = className;
    return application;
}

bool tslData::SetDescription(ApplicationInfo *first, ...) {
    // Ownership of every argument passes here, so take it before anything else.
    std::vector<std::unique_ptr<ApplicationInfo>> given;
    given.emplace_back(first);
    if (first != nullptr) {
        va_list list;
        va_start(list, first);
        for (;;) {
            ApplicationInfo *next = va_arg(list, ApplicationInfo *);
            if (next == nullptr) break;
            given.emplace_back(next);
        }
        va_end(list);
    }
    if (first == nullptr) {
        TslLog(TSL_ERROR, "tslData::SetDescription: bad parameters\n");
        return false;
    }
    std::string className = "VKN_";
    className += m_sponsorName.view();
    className += "_Tessel";
    m_sponsorClassName = tslString(std::move(className));
    for (std::unique_ptr<ApplicationInfo> &application : given)
        m_applications.push_back(std::move(application));
    return true;
}
