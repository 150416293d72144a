// The method catalogue: "Application" entries for the "Define" table, and
// the description of the plug-in and its applications that a describe
// response carries.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "request/tsl_string.h"

struct ApplicationInfo {
    tslString name;
    tslString version;
    tslString className;
};

// What SetDescription gathered for the describe response.
struct Description {
    tslString sponsorClassName;  // "VKN_", the sponsor name, "_Tessel"
    std::vector<std::unique_ptr<ApplicationInfo>> applications;
};

// The "Application" entry of a method offered by the sponsor `sponsorName`;
// null (with an error logged) when `link`, `method`, `version`, `description`
// or `folder` is null. `required` is a null-terminated array of required-field
// texts, or null for none.
std::optional<std::string> MethodTemplate(std::string_view sponsorName, const char *link,
                                          const char *method, const char *version, bool aggregate,
                                          const char *description, const char *folder,
                                          const char *const *required);

// Null (with an error logged) when any text is null or the class name does not
// end in "App" after at least one more character.
std::unique_ptr<ApplicationInfo> NewApplicationInfo(const char *name, const char *version,
                                                    const char *className);
