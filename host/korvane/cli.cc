#include "cli.h"

#include <unistd.h>

#include <cstdio>

namespace korvane {

bool ParsedArgs::Parse(int argc, char **argv, int first, const std::vector<OptionSpec> &specs,
                       std::string &error) {
    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.rfind("-", 0) != 0) {
            m_positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            m_help = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0) {
            error = "unknown option '" + arg + "'";
            return false;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> inlineValue;
        if (const auto equals = name.find('='); equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        const OptionSpec *spec = nullptr;
        for (const OptionSpec &candidate : specs)
            if (name == candidate.name) spec = &candidate;
        if (spec == nullptr) {
            error = "unknown option '--" + name + "'";
            return false;
        }
        if (!spec->takesValue) {
            if (inlineValue) {
                error = "option '--" + name + "' takes no value";
                return false;
            }
            m_values[name].push_back("");
            continue;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) {
                error = "option '--" + name + "' needs a value";
                return false;
            }
            inlineValue = argv[++i];
        }
        m_values[name].push_back(*inlineValue);
    }
    return true;
}

std::string ParsedArgs::Value(const std::string &name, const std::string &fallback) const {
    const auto found = m_values.find(name);
    return found == m_values.end() || found->second.empty() ? fallback : found->second.back();
}

std::vector<std::string> ParsedArgs::Values(const std::string &name) const {
    const auto found = m_values.find(name);
    return found == m_values.end() ? std::vector<std::string>() : found->second;
}

std::optional<unsigned long> ParseNumber(const std::string &text, unsigned long min,
                                         unsigned long max) {
    if (text.empty() || text.size() > 12) return std::nullopt;
    unsigned long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

namespace {
int g_messageFd = STDERR_FILENO;
}  // namespace

void SetMessageDescriptor(int fd) {
    g_messageFd = fd;
}

void PrintError(const std::string &message) {
    const std::string line = "korvane-host: " + message + "\n";
    // One write, so that concurrent trace lines do not interleave with it.
    if (::write(g_messageFd, line.data(), line.size()) < 0) {
        // Nowhere left to report to.
    }
}

}  // namespace korvane
