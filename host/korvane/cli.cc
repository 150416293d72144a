#include "cli.h"

#include <unistd.h>

namespace korvane {

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
