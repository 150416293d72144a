#include "host_runtime.h"

#include "cli.h"
#include "host_config.h"

namespace korvane {

const char *const kRuntimeOptionsHelp =
    "  --plugin PATH        the plug-in library (default: libNorloTessel.so next to\n"
    "                       this program, else in the installed library directory)\n"
    "  --config FILE        configuration XML handed to \"initialize\"\n"
    "  --events FILE        append the plug-in's events to FILE as JSON lines\n"
    "  --trust-list FILE    issuer keys (one per line) that Varnix hands out\n"
    "  --trace-file FILE    send the plug-in's trace (standard error) to FILE\n";

RuntimeOptions RuntimeOptionsFrom(const ParsedArgs &args) {
    RuntimeOptions options;
    options.pluginPath = args.Value("plugin");
    options.configPath = args.Value("config");
    options.eventsPath = args.Value("events");
    options.trustListPath = args.Value("trust-list");
    options.traceFile = args.Value("trace-file");
    return options;
}

bool HostRuntime::Start(const RuntimeOptions &options, Metrics *metrics, std::string &error) {
    std::string config;
    if (!LoadConfigText(options.configPath, config, error)) return false;
    if (options.raw) config = WithRawMode(config);
    if (!options.trustListPath.empty()) {
        if (!LoadTrustList(options.trustListPath, m_varnix.trustList, error)) return false;
        m_varnix.hasTrustList = true;
    }
    m_events.SetMetrics(metrics);
    if (!options.eventsPath.empty()) {
        if (!m_events.OpenJsonFile(options.eventsPath, error)) return false;
    } else {
        m_events.UseSummaryStream(options.summaryStream);
    }
    m_varnix.events = &m_events;
    if (!options.traceFile.empty() && !RedirectStandardError(options.traceFile, error))
        return false;

    InstallVarnix(&m_varnix);
    m_started = true;
    const std::string plugin =
        options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
    return m_plugin.Start(plugin, config, error);
}

void HostRuntime::Stop() {
    m_plugin.Stop();
    m_events.Close();
    if (m_started) InstallVarnix(nullptr);
    m_started = false;
}

}  // namespace korvane
