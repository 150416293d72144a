// korvane-host invoke: one request file through the plug-in, the response
// bytes on standard output.
#include <unistd.h>

#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "host_runtime.h"
#include "text_util.h"

namespace korvane {

namespace {

const char *const kInvokeHelp =
    "usage: korvane-host invoke [options] FILE|-\n"
    "\n"
    "Runs one \"invoke\" with the request text in FILE (or standard input) and\n"
    "prints the response bytes exactly. Exit code 0 when the plug-in answered 0.\n"
    "Event summaries go to standard error unless --events is given.\n"
    "\n"
    "options:\n"
    "  --raw                raw mode: the response carries its HTTP header\n";

const std::vector<OptionSpec> kInvokeOptions = {
    {"raw", false},   {"plugin", true},     {"config", true},
    {"events", true}, {"trust-list", true}, {"trace-file", true},
};

bool WriteAll(const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int RunInvoke(int argc, char **argv, int first) {
    ParsedArgs args;
    std::string error;
    if (!args.Parse(argc, argv, first, kInvokeOptions, error)) {
        PrintError(error + " (see korvane-host invoke --help)");
        return kExitUsage;
    }
    if (args.Help()) {
        std::printf("%s%s", kInvokeHelp, kRuntimeOptionsHelp);
        return kExitOk;
    }
    if (args.Positional().size() != 1) {
        PrintError("invoke needs exactly one request file (or - for standard input)");
        return kExitUsage;
    }
    std::string request;
    if (!ReadFileText(args.Positional().front(), request, error)) {
        PrintError(error);
        return kExitFailure;
    }

    RuntimeOptions options = RuntimeOptionsFrom(args);
    options.raw = args.Has("raw");
    // Standard output carries the response bytes only.
    options.summaryStream = stderr;
    HostRuntime runtime;
    if (!runtime.Start(options, nullptr, error)) {
        PrintError(error);
        return kExitFailure;
    }
    const InvokeOutcome outcome = runtime.Plugin().Invoke(request, "");
    if (outcome.hasResponse && !WriteAll(outcome.response)) {
        PrintError("cannot write the response");
        return kExitFailure;
    }
    runtime.Stop();
    if (outcome.result != 0) {
        PrintError("the plug-in answered " + std::to_string(outcome.result) +
                   (outcome.hasResponse ? "" : " without a response"));
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace korvane
