// korvane-host serve: the plug-in behind an HTTP(S) server.
#include <chrono>
#include <cstdio>
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

const char *const kServeHelp =
    "usage: korvane-host serve [options]\n"
    "\n"
    "Serves the plug-in over HTTP/1.1: POST a request text (bare or SOAP) to any\n"
    "path; GET /health and GET /metrics (Prometheus text format).\n"
    "\n"
    "options:\n"
    "  --listen HOST:PORT   address to listen on (default 127.0.0.1:8080; port 0\n"
    "                       picks a free one); the first output line names it\n"
    "  --threads N          invoke worker threads (default: number of cores)\n"
    "  --io-threads N       network threads (default 1)\n"
    "  --body-limit BYTES   largest request body accepted (default 16777216)\n"
    "  --timeout SECONDS    limit for receiving one request or sending one\n"
    "                       response, and for idle keep-alive (default 30)\n"
    "  --max-connections N  connections served at once (default 10000)\n"
    "  --tls-cert FILE      PEM certificate chain: serve HTTPS (TLS 1.2+)\n"
    "  --tls-key FILE       PEM private key for --tls-cert\n";

const std::vector<OptionSpec> kServeOptions = {
    {"listen", true},     {"threads", true},         {"io-threads", true}, {"body-limit", true},
    {"timeout", true},    {"max-connections", true}, {"tls-cert", true},   {"tls-key", true},
    {"plugin", true},     {"config", true},          {"events", true},     {"trust-list", true},
    {"trace-file", true},
};

class InvokeHandler : public PostHandler {
  public:
    InvokeHandler(const PluginHost &plugin, Metrics &metrics)
        : m_plugin(plugin), m_metrics(metrics) {}

    HttpReply Post(const std::string &, const std::string &body,
                   const std::string &remoteAddress) override {
        const auto start = std::chrono::steady_clock::now();
        InvokeOutcome outcome = m_plugin.Invoke(body, remoteAddress);
        m_metrics.RecordInvoke(PeekTableName(body), outcome.result,
                               std::chrono::steady_clock::now() - start);
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

bool ServerOptionsFrom(const ParsedArgs &args, HttpServerOptions &options, std::string &error) {
    if (!ParseListen(args.Value("listen", "127.0.0.1:8080"), options.host, options.port, error))
        return false;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    struct NumberOption {
        const char *name;
        unsigned long min, max, fallback;
        unsigned long *out;
    };
    unsigned long threads = 0, ioThreads = 0, bodyLimit = 0, timeout = 0, maxConnections = 0;
    const NumberOption numbers[] = {
        {"threads", 1, 1024, cores, &threads},
        {"io-threads", 1, 64, 1, &ioThreads},
        {"body-limit", 1, 1ul << 32, options.bodyLimit, &bodyLimit},
        {"timeout", 1, 86400, 30, &timeout},
        {"max-connections", 1, 1000000, options.maxConnections, &maxConnections},
    };
    for (const NumberOption &number : numbers) {
        if (!args.Has(number.name)) {
            *number.out = number.fallback;
            continue;
        }
        const auto value = ParseNumber(args.Value(number.name), number.min, number.max);
        if (!value) {
            error = "--" + std::string(number.name) + " needs a number from " +
                    std::to_string(number.min) + " to " + std::to_string(number.max);
            return false;
        }
        *number.out = *value;
    }
    options.workerThreads = static_cast<unsigned>(threads);
    options.ioThreads = static_cast<unsigned>(ioThreads);
    options.bodyLimit = bodyLimit;
    options.timeout = std::chrono::seconds(timeout);
    options.maxConnections = maxConnections;
    options.tlsCert = args.Value("tls-cert");
    options.tlsKey = args.Value("tls-key");
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        error = "--tls-cert and --tls-key go together";
        return false;
    }
    return true;
}

}  // namespace

int RunServe(int argc, char **argv, int first) {
    ParsedArgs args;
    std::string error;
    if (!args.Parse(argc, argv, first, kServeOptions, error)) {
        PrintError(error + " (see korvane-host serve --help)");
        return kExitUsage;
    }
    if (args.Help()) {
        std::printf("%s%s", kServeHelp, kRuntimeOptionsHelp);
        return kExitOk;
    }
    if (!args.Positional().empty()) {
        PrintError("serve takes no arguments, got '" + args.Positional().front() + "'");
        return kExitUsage;
    }
    HttpServerOptions serverOptions;
    if (!ServerOptionsFrom(args, serverOptions, error)) {
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
    if (!runtime.Start(RuntimeOptionsFrom(args), &metrics, error)) {
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

}  // namespace korvane
