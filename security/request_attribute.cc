// Cutting the credential and signature attributes out of a request text, so
// that what is verified is what the sender signed before adding them.
#include <string_view>

#include "security/tsl_security.h"

namespace tslSecurity {

void RemoveRequestAttribute(std::string &request, const char *name) {
    if (name == nullptr) return;
    static constexpr std::string_view kTag = "<tesselrequest";
    const std::size_t tag = request.find(kTag);
    if (tag == std::string::npos) return;
    const std::size_t close = request.find('>', tag);
    if (close == std::string::npos) return;
    const std::string attribute = std::string(name) + "=\"";
    const std::size_t start = request.find(attribute, tag + kTag.size());
    if (start == std::string::npos || start >= close) return;
    const std::size_t quote = request.find('"', start + attribute.size());
    if (quote == std::string::npos || quote >= close) return;
    request.erase(start, quote + 1 - start);
}

}  // namespace tslSecurity
