// korvane-host: the Korvane gateway host for the NorloTessel plug-in.
#include <csignal>
#include <exception>
#include <iostream>
#include <vector>

#include "cli.h"
#include "commands.h"

namespace korvane {

CLI::Option *AddNumberOption(CLI::App &command, const std::string &name, unsigned long &value,
                             unsigned long min, unsigned long max, const std::string &help) {
    static const CLI::Validator kDecimal(
        [](std::string &text) -> std::string {
            if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
                return "Value " + text + " is not a decimal number";
            text.erase(0, std::min(text.find_first_not_of('0'), text.size() - 1));
            return "";
        },
        "");
    CLI::Range range(min, max);
    range.description("");
    return command
        .add_option(name, value,
                    help + " (" + std::to_string(min) + " to " + std::to_string(max) + ")")
        ->type_name("N")
        ->transform(kDecimal)  // runs first, and may rewrite the text
        ->check(range);
}

}  // namespace korvane

int main(int argc, char **argv) {
    // A reader that went away must not kill the host; writes report EPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    CLI::App program("The Korvane gateway host for the NorloTessel plug-in.", "korvane-host");
    program.footer("\"korvane-host COMMAND --help\" describes a command's options.");
    // Options given twice count with their last value; CLI11 would refuse them.
    program.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    program.require_subcommand(0, 1);
    const std::vector<korvane::Command> commands = {
        korvane::AddServeCommand(program), korvane::AddInvokeCommand(program),
        korvane::AddQueryCommand(program), korvane::AddPkiCommand(program)};
    CLI::App *help = program.add_subcommand("help", "the same as --help")->group("");
    try {
        program.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // --help prints and answers 0; anything CLI11 refuses is a usage error.
        return program.exit(e) == 0 ? korvane::kExitOk : korvane::kExitUsage;
    }
    try {
        for (const korvane::Command &command : commands)
            if (command.app->parsed()) return command.run();
    } catch (const std::exception &e) {
        korvane::PrintError(std::string("fatal: ") + e.what());
        return korvane::kExitFailure;
    }
    const std::string usage =
        program.get_formatter()->make_help(&program, "korvane-host", CLI::AppFormatMode::Normal);
    if (help->parsed()) {
        std::cout << usage;
        return korvane::kExitOk;
    }
    std::cerr << usage;
    return korvane::kExitUsage;
}
