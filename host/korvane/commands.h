// The subcommands of korvane-host. Each one adds itself, with its options, to
// the program's CLI11 command line and hands back how to run it; main()
// parses and runs the one that was chosen. A new subcommand (or group of
// them) is one more file with one more Add function here.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

namespace korvane {

struct Command {
    CLI::App *app = nullptr;  // owned by the program's CLI::App
    // Does the work once the command line has parsed; returns the exit code
    // (cli.h). The options it reads live as long as the function.
    std::function<int()> run;
};

Command AddServeCommand(CLI::App &program);
Command AddInvokeCommand(CLI::App &program);
Command AddQueryCommand(CLI::App &program);
Command AddPkiCommand(CLI::App &program);

// "--name N": a whole decimal number from `min` to `max`; the range is added
// to `help`. Only decimal digits count (CLI11 alone would read "010" as
// octal and "0x10" as hexadecimal).
CLI::Option *AddNumberOption(CLI::App &command, const std::string &name, unsigned long &value,
                             unsigned long min, unsigned long max, const std::string &help);

}  // namespace korvane
