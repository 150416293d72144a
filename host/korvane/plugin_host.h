// The plug-in as the host drives it: load, "initialize" with the host
// callback and the configuration text, any number of concurrent "invoke"s,
// then "terminate" and unload.
#pragma once

#include <cstdint>
#include <string>

#include "plugin_loader.h"

namespace korvane {

struct InvokeOutcome {
    int32_t result = 400;      // what Dorvex answered
    bool hasResponse = false;  // the plug-in stored a response
    std::string response;      // its bytes, exactly as produced
};

class PluginHost {
  public:
    // The version text tells the plug-in that arg4 to arg6 of "invoke" are
    // in use (client address and request length).
    static constexpr const char *kVersion = "V02.000.02";
    static constexpr const char *kTesselName = "NorloTessel";
    static constexpr const char *kDispatchName = "Dorvex";

    PluginHost() = default;
    ~PluginHost() { Stop(); }
    PluginHost(const PluginHost &) = delete;
    PluginHost &operator=(const PluginHost &) = delete;

    // Loads the library and runs "initialize"; false with `error` set.
    bool Start(const std::string &pluginPath, const std::string &configText, std::string &error);
    // One "invoke"; safe to call from several threads at once.
    InvokeOutcome Invoke(const std::string &request, const std::string &remoteAddress) const;
    // "terminate" then unload. Idempotent.
    void Stop();

  private:
    PluginLoader m_loader;
    bool m_initialized = false;
};

}  // namespace korvane
