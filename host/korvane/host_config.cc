#include "host_config.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "cli.h"
#include "text_util.h"

namespace korvane {

namespace {

constexpr const char *kPluginFile = "libNorloTessel.so";

}  // namespace

std::string DefaultPluginPath() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        for (const std::filesystem::path &candidate :
             {self.parent_path() / kPluginFile,
              self.parent_path() / KORVANE_RELATIVE_LIBDIR / kPluginFile}) {
            if (std::filesystem::exists(candidate, ec))
                return candidate.lexically_normal().string();
        }
    }
    return std::string(KORVANE_INSTALL_LIBDIR) + "/" + kPluginFile;
}

bool LoadConfigText(const std::string &path, std::string &text, std::string &error) {
    text.clear();
    if (path.empty()) return true;
    return ReadFileText(path, text, error);
}

std::string WithRawMode(const std::string &config) {
    static const std::string kEntry = "<Raw>true</Raw>";
    if (Trim(config).empty())
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><KorvaneConfig><Tessel>" + kEntry +
               "</Tessel></KorvaneConfig>";
    const std::string lower = AsciiLower(config);
    // Configuration entries are read wherever they stand; inside Tessel is
    // where they belong, and before the root's end tag is the fallback.
    std::size_t at = lower.rfind("</tessel");
    if (at == std::string::npos) at = lower.rfind("</");
    if (at == std::string::npos) return config + kEntry;
    std::string out = config;
    out.insert(at, kEntry);
    return out;
}

bool ParseListen(const std::string &text, std::string &host, uint16_t &port, std::string &error) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) {
        error = "bad listen address '" + text + "' (expected HOST:PORT)";
        return false;
    }
    host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string portText = text.substr(colon + 1);
    unsigned long value = 0;
    for (char c : portText) {
        if (c < '0' || c > '9' || value > 65535) {
            value = ULONG_MAX;
            break;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > 65535) {
        error = "bad port '" + portText + "' in listen address";
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace korvane
