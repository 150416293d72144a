// What every subcommand shares outside its own options: the exit codes and
// the host's message channel.
#pragma once

#include <optional>
#include <string>

namespace korvane {

// Exit codes of every subcommand. kExitUsage is also what a command line
// CLI11 refuses ends with.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// A whole decimal number within [min, max]; nullopt otherwise.
std::optional<unsigned long> ParseNumber(const std::string &text, unsigned long min,
                                         unsigned long max);

// Prints "korvane-host: MESSAGE" to the host's own message channel: standard
// error as the program started, even after the plug-in's trace (which also
// writes to standard error) was redirected.
void PrintError(const std::string &message);
void SetMessageDescriptor(int fd);

}  // namespace korvane
