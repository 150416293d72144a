// korvane-host: the Korvane gateway host for the NorloTessel plug-in.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include "cli.h"
#include "commands.h"

namespace {

const char *const kUsage =
    "usage: korvane-host COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  serve    serve the plug-in over HTTP(S)\n"
    "  invoke   run one request file through the plug-in\n"
    "  query    print a table of the plug-in\n"
    "\n"
    "\"korvane-host COMMAND --help\" describes a command's options.\n";

}  // namespace

int main(int argc, char **argv) {
    // A reader that went away must not kill the host; writes report EPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return korvane::kExitUsage;
    }
    const char *command = argv[1];
    try {
        if (std::strcmp(command, "serve") == 0) return korvane::RunServe(argc, argv, 2);
        if (std::strcmp(command, "invoke") == 0) return korvane::RunInvoke(argc, argv, 2);
        if (std::strcmp(command, "query") == 0) return korvane::RunQuery(argc, argv, 2);
        if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0 ||
            std::strcmp(command, "help") == 0) {
            std::fputs(kUsage, stdout);
            return korvane::kExitOk;
        }
    } catch (const std::exception &e) {
        korvane::PrintError(std::string("fatal: ") + e.what());
        return korvane::kExitFailure;
    }
    korvane::PrintError(std::string("unknown command '") + command + "'\n" + kUsage);
    return korvane::kExitUsage;
}
