// libFuzzer target: request texts (and, with a leading 'C', configuration
// texts) through the parser. Any crash, leak, sanitizer report or stuck input
// is a finding; build and run with fuzz/run.sh.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include <xercesc/util/PlatformUtils.hpp>

#include "base/trace_log.h"
#include "request/config_entry.h"
#include "request/tsl_request.h"
#include "request/xerces_int.h"
#include "request/xerces_library.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    xercesc::XMLPlatformUtils::Initialize();
    TslSetLevel(TSL_NOLEVEL);  // keep the parser's error lines out of the output
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    // Request texts are zero-terminated: the text ends at the first zero byte.
    std::string text(reinterpret_cast<const char *>(data), size);
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    if (!text.empty() && text[0] == 'C') {
        std::vector<ConfigEntry> entries;
        bool raw = false;
        ConfigTarget target{"Fuzz", &entries, &raw};
        XercesInt parser;
        parser.Parse(target, text.substr(1));
        return 0;
    }
    tslRequest request("V02.000.02", "Fuzz", "Dorvex", text.c_str());
    request.m_raw = !text.empty() && text[0] == 'R';
    request.ParseRequest();
    // Touch every field the later stages read.
    std::size_t total = request.m_table.size() + request.m_sponsorName.size();
    for (const Predicate &p : request.m_predicates) total += p.target.size() + p.atom.size();
    for (const tslString &t : request.m_outputTargets) total += std::string(t.XmlEscaped()).size();
    return total == static_cast<std::size_t>(-1) ? 1 : 0;
}
