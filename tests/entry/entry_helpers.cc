#include "entry_helpers.h"

#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

namespace entrytest {

std::string UniqueName(const char *stem) {
    static std::atomic<int> counter{0};
    return std::string(stem) + std::to_string(::getpid()) + "n" + std::to_string(counter++);
}

std::string InCwd(const std::string &name) {
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) return name;
    return std::string(cwd) + "/" + name;
}

int OpenCount(const std::string &path) {
    int count = 0;
    DIR *dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        if (path == target) ++count;
    }
    ::closedir(dir);
    return count;
}

bool Exists(const std::string &path) {
    return ::access(path.c_str(), F_OK) == 0;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Prefix(const char *tag) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%s[0x%08x] ", tag,
                  static_cast<unsigned>(pthread_self() & 0xFFFFFFFFu));
    return prefix;
}

std::vector<std::string> SplitMessages(const std::string &text, bool dated) {
    static const std::regex plain(R"((ERROR: |WARN:  |TRACE: |\?LEVEL\?)\[0x[0-9a-f]{8}\] )");
    static const std::regex stamped(
        R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d: (ERROR: |WARN:  |TRACE: |\?LEVEL\?)\[0x[0-9a-f]{8}\] )");
    const std::regex &start = dated ? stamped : plain;
    std::vector<std::string> messages;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t eol = text.find('\n', pos);
        const std::size_t next = eol == std::string::npos ? text.size() : eol + 1;
        const std::string line = text.substr(pos, next - pos);
        std::smatch m;
        const bool starts =
            std::regex_search(line, m, start, std::regex_constants::match_continuous);
        if (starts || messages.empty()) {
            messages.push_back(line);
        } else {
            messages.back() += line;
        }
        pos = next;
    }
    return messages;
}

ScopedFile::ScopedFile(std::string path) : m_path(std::move(path)) {
    std::remove(m_path.c_str());
}
ScopedFile::~ScopedFile() {
    std::remove(m_path.c_str());
}

}  // namespace entrytest
