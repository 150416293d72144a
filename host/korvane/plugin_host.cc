#include "plugin_host.h"

#include <limits>

#include "varnix.h"

namespace korvane {

bool PluginHost::Start(const std::string &pluginPath, const std::string &configText,
                       std::string &error) {
    if (!m_loader.Load(pluginPath)) {
        error = "cannot load plug-in: " + m_loader.Error();
        return false;
    }
    const gwcbfunc callback = &KorvaneHostCallback;
    const int32_t result = m_loader.Call(kVersion, kTesselName, kDispatchName, "initialize",
                                         reinterpret_cast<uintptr_t>(callback),
                                         reinterpret_cast<uintptr_t>(configText.c_str()));
    if (result != 0) {
        error = "plug-in initialize answered " + std::to_string(result);
        m_loader.Unload();
        return false;
    }
    m_initialized = true;
    return true;
}

InvokeOutcome PluginHost::Invoke(const std::string &request,
                                 const std::string &remoteAddress) const {
    InvokeOutcome outcome;
    if (!m_initialized) return outcome;
    char *response = nullptr;
    // In: the request length; out: the response length.
    uint32_t length = request.size() > std::numeric_limits<uint32_t>::max()
                          ? std::numeric_limits<uint32_t>::max()
                          : static_cast<uint32_t>(request.size());
    outcome.result = m_loader.Call(
        kVersion, kTesselName, kDispatchName, "invoke",
        reinterpret_cast<uintptr_t>(request.c_str()), reinterpret_cast<uintptr_t>(&response), 0,
        remoteAddress.empty() ? 0 : reinterpret_cast<uintptr_t>(remoteAddress.c_str()), 0,
        reinterpret_cast<uintptr_t>(&length));
    if (response != nullptr) {
        outcome.hasResponse = true;
        outcome.response.assign(response, length);
        m_loader.Call(kVersion, kTesselName, kDispatchName, "free",
                      reinterpret_cast<uintptr_t>(response));
    }
    return outcome;
}

void PluginHost::Stop() {
    if (m_initialized) m_loader.Call(kVersion, kTesselName, kDispatchName, "terminate");
    m_initialized = false;
    m_loader.Unload();
}

}  // namespace korvane
