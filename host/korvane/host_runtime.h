// Everything a subcommand needs around the plug-in: the XML runtime, the
// Varnix stand-in with its event sink and trust list, the trace redirection
// and the loaded, initialised plug-in. Torn down in reverse order.
#pragma once

#include <cstdio>
#include <string>

#include "event_sink.h"
#include "plugin_host.h"
#include "trace_file.h"
#include "varnix.h"
#include "xml_readers.h"

namespace CLI {
class App;
}

namespace korvane {

class Metrics;

struct RuntimeOptions {
    std::string pluginPath;     // "" : DefaultPluginPath()
    std::string configPath;     // "" : no configuration
    std::string eventsPath;     // "" : summaries on `summaryStream`
    std::string trustListPath;  // "" : trust-list calls fail
    std::string traceFile;      // "" : the trace stays on standard error
    unsigned long traceMaxBytes = TraceFileOptions().maxBytes;
    unsigned long traceKeep = TraceFileOptions().keep;
    bool raw = false;  // force raw mode into the configuration
    std::FILE *summaryStream = stdout;
};

// Adds the options every subcommand shares (--plugin, --config, --events,
// --trust-list, --trace-file and its bounds) to `command`; parsing fills `options`, which
// must outlive the command line.
void AddRuntimeOptions(CLI::App &command, RuntimeOptions &options);

class HostRuntime {
  public:
    HostRuntime() = default;
    ~HostRuntime() { Stop(); }
    HostRuntime(const HostRuntime &) = delete;
    HostRuntime &operator=(const HostRuntime &) = delete;

    // False with `error` set; whatever was set up is undone by Stop().
    bool Start(const RuntimeOptions &options, Metrics *metrics, std::string &error);
    const PluginHost &Plugin() const { return m_plugin; }
    // "terminate", unload, then the remaining events are written.
    void Stop();

  private:
    TraceFile m_trace;
    XercesRuntime m_xerces;
    EventSink m_events;
    VarnixSettings m_varnix;
    PluginHost m_plugin;
    bool m_started = false;
};

}  // namespace korvane
