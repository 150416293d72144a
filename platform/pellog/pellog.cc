#include "pellog/pellog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_pellogMutex;
}

void pllStartUpTracing(int) {}

void pllTrace(const char *format, ...) {
    const char *path = std::getenv("PELLOG_FILE");
    if (path == nullptr || *path == '\0' || format == nullptr) return;
    char line[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_pellogMutex);
    if (FILE *f = std::fopen(path, "a")) {
        std::fputs(line, f);
        // One trace, one line, whatever the caller's format ended with.
        size_t n = std::char_traits<char>::length(line);
        if (n == 0 || line[n - 1] != '\n') std::fputc('\n', f);
        std::fclose(f);
    }
}
