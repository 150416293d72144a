#include "entry/tessel.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/trace_log.h"
#include "entry/application_hook.h"
#include "entry/event_record.h"
#include "request/xerces_int.h"
#include "request/xerces_library.h"
#include "result/tsl_data.h"

Tessel::Tessel(const char *version, const char *name, const char *dispatchName, void *jvm,
               gwcbfunc callback, const char *configuration) {
    std::string xercesError;
    m_xercesReady = xerces_library::Initialize(xercesError);
    if (!m_xercesReady) {
        if (!xercesError.empty()) {
            TslLog(TSL_ERROR, "exception during xerces initialization [%s]\n", xercesError.c_str());
        } else {
            TslLog(TSL_ERROR, "exception (other) during xerces initialization\n");
        }
    }
    TslLog(TSL_TRACE, "After erasing transaction map\n");

    m_name = name;
    m_version = version;
    m_dispatchName = dispatchName;
    m_jvm = jvm;
    m_callback = callback;
    m_event = std::make_unique<EventRecord>(*this);
    m_raw = false;
    m_configdata = configuration;

    if (!m_configdata.empty() && m_xercesReady) {
        XercesInt parser;
        ConfigTarget target{m_name.c_str(), &m_entries, &m_raw};
        parser.Parse(target, m_configdata.str());
    }
    ApplyDebugLevels();
}

void Tessel::ApplyDebugLevels() {
    TslSetLevel(TSL_WARNING);
    static const struct {
        const char *word;
        int level;
    } kLevels[] = {{"TSL_NOLEVEL", TSL_NOLEVEL},
                   {"TSL_ERROR", TSL_ERROR},
                   {"TSL_WARNING", TSL_WARNING},
                   {"TSL_TRACE", TSL_TRACE}};
    for (const ConfigEntry &entry : m_entries) {
        if (entry.name != std::string_view("DebugLevel")) continue;
        if (entry.value == std::string_view("TSL_FILE")) {
            TslOpenLogFile((m_name.str() + ".log").c_str());
            TslSetLevel(TSL_FILE);
            continue;
        }
        for (const auto &level : kLevels)
            if (entry.value == std::string_view(level.word)) TslSetLevel(level.level);
    }
}

Tessel::~Tessel() {
    TesselApplicationHook("Terminate", this);
    m_name.clear();
    m_dispatchName.clear();
    m_version.clear();
    m_entries.clear();
    m_event.reset();
    // Readers hold library state: they go before the library's counter drops.
    if (m_xercesReady) xerces_library::Terminate();
    TslCloseLogFile();
}

int32_t Tessel::AuthCheck(uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4, uintptr_t a5) {
    if (m_authHook == nullptr) return 400;
    return m_authHook(m_authContext, a1, a2, a3, a4, a5);
}

int32_t Tessel::RunMethod(tslData &request) {
    return TesselApplicationHook("Run", &request);
}

int32_t Tessel::SendEvent(const tslString &text) {
    if (m_callback == nullptr) return 0;
    return SendEncodedEvent(text.UrlEncoded(), text);
}

int32_t Tessel::SendEncodedEvent(const char *encoded, const tslString &text) {
    if (m_callback == nullptr) return 0;
    try {
        return m_callback(m_name.c_str(), "SendEvent", encoded);
    } catch (...) {
        TslLog(TSL_ERROR, "Tessel::SendEvent: tessel [%s] exception sending event [%s]\n",
               m_name.c_str(), text.c_str());
        return 0;
    }
}

int32_t Tessel::CallTessel(const char *host, const char *remote, const char *request,
                           char **response) {
    if (response != nullptr) *response = nullptr;
    if (m_callback == nullptr) return 1;
    const tslString text(request);
    try {
        return m_callback(m_name.c_str(), "CallTessel", host, remote, text.UrlEncoded(), response);
    } catch (...) {
        TslLog(TSL_ERROR,
               "Tessel::CallTessel: tessel [%s] exception host [%s] remotetsl [%s] request [%s]\n",
               m_name.c_str(), host, remote, text.c_str());
        return 1;
    }
}

int32_t Tessel::CallVarnix(const std::string &request, std::string &response) {
    char *out = nullptr;
    const int32_t status = CallTessel("localhost", "Varnix", request.c_str(), &out);
    // Owned from here, so the copy below cannot leak the host's block.
    const std::unique_ptr<char, decltype(&std::free)> answer(out, &std::free);
    response = answer != nullptr ? answer.get() : "";
    return status;
}
