// korvane-host serve: the plug-in behind an HTTP(S) server.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string_view>
#include <thread>

#include "cli.h"
#include "commands.h"
#include "host_config.h"
#include "host_runtime.h"
#include "http_server.h"
#include "metrics.h"
#include "text_util.h"

namespace korvane {

namespace {

const char *const kServeDescription =
    "Serves the plug-in over HTTP/1.1: POST a request text (bare or SOAP) to any\n"
    "path; GET /health and GET /metrics (Prometheus text format); GET / opens\n"
    "the web console.";

struct ServeSettings {
    std::string listen = "127.0.0.1:8080";
    unsigned long threads = std::max(1u, std::thread::hardware_concurrency());
    unsigned long ioThreads = 1;
    unsigned long bodyLimit = HttpServerOptions().bodyLimit;
    unsigned long bodyBudget = HttpServerOptions().bodyBudget;
    unsigned long timeout = 30;
    unsigned long maxConnections = HttpServerOptions().maxConnections;
    std::string tlsCert;
    std::string tlsKey;
    bool noConsole = false;
    RuntimeOptions runtime;
};

class InvokeHandler : public PostHandler {
  public:
    InvokeHandler(const PluginHost &plugin, Metrics &metrics)
        : m_plugin(plugin), m_metrics(metrics) {}

    HttpReply Post(const std::string &, const std::string &body,
                   const std::string &remoteAddress) override {
        const auto start = std::chrono::steady_clock::now();
        InvokeOutcome outcome = m_plugin.Invoke(body, remoteAddress);
        m_metrics.RecordInvoke(
            InvokeLabel(body, outcome.result, outcome.hasResponse ? &outcome.response : nullptr),
            outcome.result, std::chrono::steady_clock::now() - start);
        m_metrics.AddBytesIn(body.size());

        HttpReply reply;
        if (outcome.hasResponse) {
            // In raw mode the plug-in writes the whole HTTP response itself.
            reply.raw = std::string_view(outcome.response).substr(0, 5) == "HTTP/";
            reply.status = 200;
            reply.contentType = "text/xml; charset=\"utf-8\"";
            reply.body = std::move(outcome.response);
        } else {
            reply.contentType = "text/plain; charset=utf-8";
            switch (outcome.result) {
                case 401:
                    reply.status = 401;
                    reply.body = "untrusted caller\n";
                    break;
                case 405:
                    reply.status = 403;
                    reply.body = "invalid credentials or signature\n";
                    break;
                default:
                    reply.status = 500;
                    reply.body = "request failed (result " + std::to_string(outcome.result) + ")\n";
                    break;
            }
        }
        m_metrics.AddBytesOut(reply.body.size());
        return reply;
    }

  private:
    const PluginHost &m_plugin;
    Metrics &m_metrics;
};

bool ServerOptionsFrom(const ServeSettings &settings, HttpServerOptions &options,
                       std::string &error) {
    if (!ParseListen(settings.listen, options.host, options.port, error)) return false;
    options.workerThreads = static_cast<unsigned>(settings.threads);
    options.ioThreads = static_cast<unsigned>(settings.ioThreads);
    options.bodyLimit = settings.bodyLimit;
    options.bodyBudget = settings.bodyBudget;
    options.timeout = std::chrono::seconds(settings.timeout);
    options.maxConnections = settings.maxConnections;
    options.tlsCert = settings.tlsCert;
    options.tlsKey = settings.tlsKey;
    options.console = !settings.noConsole;
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        error = "--tls-cert and --tls-key go together";
        return false;
    }
    return true;
}

int RunServe(const ServeSettings &settings) {
    HttpServerOptions serverOptions;
    std::string error;
    if (!ServerOptionsFrom(settings, serverOptions, error)) {
        PrintError(error);
        return kExitUsage;
    }

    Metrics metrics;
    HostRuntime runtime;
    InvokeHandler handler(runtime.Plugin(), metrics);
    HttpServer server(serverOptions, handler, metrics);
    // Bind before loading the plug-in, so that a busy port fails fast.
    if (!server.Open(error)) {
        PrintError(error);
        return kExitFailure;
    }
    if (!runtime.Start(settings.runtime, &metrics, error)) {
        PrintError(error);
        return kExitFailure;
    }
    std::printf("listening on %s%s\n", server.LocalAddress().c_str(),
                serverOptions.tlsCert.empty() ? "" : " (https)");
    std::fflush(stdout);
    server.Run();
    runtime.Stop();
    std::printf("stopped\n");
    std::fflush(stdout);
    return kExitOk;
}

}  // namespace

Command AddServeCommand(CLI::App &program) {
    auto settings = std::make_shared<ServeSettings>();
    CLI::App *serve = program.add_subcommand("serve", "serve the plug-in over HTTP(S)");
    serve->footer(kServeDescription);
    serve
        ->add_option("--listen", settings->listen,
                     "address to listen on (port 0 picks a free one);\n"
                     "the first output line names it")
        ->type_name("HOST:PORT")
        ->capture_default_str();
    AddNumberOption(*serve, "--threads", settings->threads, 1, 1024,
                    "invoke worker threads, default: number of cores");
    AddNumberOption(*serve, "--io-threads", settings->ioThreads, 1, 64, "network threads")
        ->capture_default_str();
    AddNumberOption(*serve, "--body-limit", settings->bodyLimit, 1, 1ul << 32,
                    "largest request body accepted")
        ->type_name("BYTES")
        ->capture_default_str();
    AddNumberOption(*serve, "--body-budget", settings->bodyBudget, 1, 1ul << 40,
                    "request body bytes held at once over all\n"
                    "connections; past it new requests get 503")
        ->type_name("BYTES")
        ->capture_default_str();
    AddNumberOption(*serve, "--timeout", settings->timeout, 1, 86400,
                    "limit for receiving one request or sending one\n"
                    "response, and for idle keep-alive")
        ->type_name("SECONDS")
        ->capture_default_str();
    AddNumberOption(*serve, "--max-connections", settings->maxConnections, 1, 1000000,
                    "connections served at once")
        ->capture_default_str();
    serve
        ->add_option("--tls-cert", settings->tlsCert,
                     "PEM certificate chain: serve HTTPS (TLS 1.2+)")
        ->type_name("FILE");
    serve->add_option("--tls-key", settings->tlsKey, "PEM private key for --tls-cert")
        ->type_name("FILE");
    serve->add_flag("--no-console", settings->noConsole,
                    "do not serve the web console (GET / and its files)");
    AddRuntimeOptions(*serve, settings->runtime);
    return {serve, [settings] { return RunServe(*settings); }};
}

}  // namespace korvane
