// korvane-host invoke: one request file through the plug-in, the response
// bytes on standard output.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "cli.h"
#include "commands.h"
#include "host_runtime.h"
#include "text_util.h"

namespace korvane {

namespace {

const char *const kInvokeDescription =
    "Runs one \"invoke\" with the request text in FILE (or standard input) and\n"
    "prints the response bytes exactly. Exit code 0 when the plug-in answered 0.\n"
    "Event summaries go to standard error unless --events is given.";

struct InvokeSettings {
    std::string file;
    bool raw = false;
    RuntimeOptions runtime;
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

int RunInvoke(const InvokeSettings &settings) {
    std::string request;
    std::string error;
    if (!ReadFileText(settings.file, request, error)) {
        PrintError(error);
        return kExitFailure;
    }

    RuntimeOptions options = settings.runtime;
    options.raw = settings.raw;
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

}  // namespace

Command AddInvokeCommand(CLI::App &program) {
    auto settings = std::make_shared<InvokeSettings>();
    CLI::App *invoke = program.add_subcommand("invoke", "run one request file through the plug-in");
    invoke->footer(kInvokeDescription);
    invoke->add_option("FILE", settings->file, "the request text, or - for standard input")
        ->type_name("")
        ->required();
    invoke->add_flag("--raw", settings->raw, "raw mode: the response carries its HTTP header");
    AddRuntimeOptions(*invoke, settings->runtime);
    return {invoke, [settings] { return RunInvoke(*settings); }};
}

}  // namespace korvane
