#include "host_runtime.h"

#include <CLI/CLI.hpp>

#include "commands.h"
#include "host_config.h"

namespace korvane {

void AddRuntimeOptions(CLI::App &command, RuntimeOptions &options) {
    const struct {
        const char *name;
        std::string *value;
        const char *type;
        const char *help;
    } kOptions[] = {
        {"--plugin", &options.pluginPath, "PATH",
         "the plug-in library (default: libNorloTessel.so next to\n"
         "this program, else in the installed library directory)"},
        {"--config", &options.configPath, "FILE", "configuration XML handed to \"initialize\""},
        {"--events", &options.eventsPath, "FILE",
         "append the plug-in's events to FILE as JSON lines"},
        {"--trust-list", &options.trustListPath, "FILE",
         "issuer keys (one per line) that Varnix hands out"},
        {"--trace-file", &options.traceFile, "FILE",
         "send the plug-in's trace (standard error) to FILE"},
    };
    for (const auto &option : kOptions)
        command.add_option(option.name, *option.value, option.help)
            ->type_name(option.type)
            ->group("Plug-in options");
    AddNumberOption(command, "--trace-max-size", options.traceMaxBytes, TraceFileOptions::kMaxLine,
                    1ul << 40, "rotate the trace file before it grows past this")
        ->type_name("BYTES")
        ->capture_default_str()
        ->group("Plug-in options");
    AddNumberOption(command, "--trace-keep", options.traceKeep, 0, 1000,
                    "rotated trace files kept (FILE.1 is the newest)")
        ->capture_default_str()
        ->group("Plug-in options");
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
    if (!options.traceFile.empty() && !m_trace.Open({options.traceFile, options.traceMaxBytes,
                                                     static_cast<unsigned>(options.traceKeep)},
                                                    error))
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
    m_trace.Close();
}

}  // namespace korvane
