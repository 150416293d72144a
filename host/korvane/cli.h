// Command-line parsing shared by the subcommands: "--name VALUE",
// "--name=VALUE", flags, and positional arguments ("-" counts as one).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvane {

// Exit codes of every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct OptionSpec {
    const char *name;  // without the leading "--"
    bool takesValue;
};

class ParsedArgs {
  public:
    // Parses argv[first..argc); "-h" and "--help" set Help(). False with
    // `error` set for an unknown option or a missing value.
    bool Parse(int argc, char **argv, int first, const std::vector<OptionSpec> &specs,
               std::string &error);

    bool Help() const { return m_help; }
    bool Has(const std::string &name) const { return m_values.count(name) != 0; }
    // The last value given for `name`, or `fallback`.
    std::string Value(const std::string &name, const std::string &fallback = "") const;
    // Every value given for `name`, in order.
    std::vector<std::string> Values(const std::string &name) const;
    const std::vector<std::string> &Positional() const { return m_positional; }

  private:
    bool m_help = false;
    std::map<std::string, std::vector<std::string>> m_values;
    std::vector<std::string> m_positional;
};

// A whole decimal number within [min, max]; nullopt otherwise.
std::optional<unsigned long> ParseNumber(const std::string &text, unsigned long min,
                                         unsigned long max);

// Prints "korvane-host: MESSAGE" to the host's own message channel: standard
// error as the program started, even after the plug-in's trace (which also
// writes to standard error) was redirected.
void PrintError(const std::string &message);
void SetMessageDescriptor(int fd);

}  // namespace korvane
