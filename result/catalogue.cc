#include "result/catalogue.h"

#include <memory>
#include <optional>
#include <string>

#include "base/escaping.h"
#include "base/trace_log.h"

std::optional<std::string> MethodTemplate(std::string_view sponsorName, const char *link,
                                          const char *method, const char *version, bool aggregate,
                                          const char *description, const char *folder,
                                          const char *const *required) {
    if (link == nullptr || method == nullptr || version == nullptr || description == nullptr ||
        folder == nullptr) {
        TslLog(TSL_ERROR, "tslData::BuildAnyMethodTemplate: bad parameters\n");
        return std::nullopt;
    }
    std::string text = "<Application>\n  <ZornClass>VKN_";
    AppendXmlEscaped(text, sponsorName);
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

std::unique_ptr<ApplicationInfo> NewApplicationInfo(const char *name, const char *version,
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
