#include "pellog/pellog.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace {

// Whether traces are written, as the last start-up found PELLOG_FILE.
enum State { kNotStarted, kOff, kOn };
constinit std::atomic<int> g_state{kNotStarted};

// Guards the trace file. Neither has a destructor that does anything: traces
// may come from static destructors of other libraries.
constinit std::mutex g_fileMutex;

// The trace file, made at the first start-up that finds a path (so that a
// process that never traces holds nothing) and never destroyed.
struct TraceFile {
    std::string path;  // PELLOG_FILE at the last start-up
    int fd = -1;       // open for `path`, or -1
};
TraceFile *g_file = nullptr;  // guarded by g_fileMutex

// `text` with line structure and backslashes escaped, as one line.
std::string OneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size() + 1);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\\') {
            line += "\\\\";
        } else if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
            static constexpr char kHex[] = "0123456789abcdef";
            line += "\\x";
            line += kHex[byte >> 4];
            line += kHex[byte & 0xF];
        } else {
            line += c;
        }
    }
    line += '\n';
    return line;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The whole expansion of `format`; false when vsnprintf refuses it.
bool Format(std::string &out, const char *format, va_list args) {
    va_list again;
    va_copy(again, args);
    char small[512];
    const int needed = std::vsnprintf(small, sizeof small, format, args);
    bool done = needed >= 0;
    if (done && static_cast<std::size_t>(needed) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(needed));
    } else if (done) {
        out.resize(static_cast<std::size_t>(needed) + 1);
        done = std::vsnprintf(out.data(), out.size(), format, again) == needed;
        out.resize(static_cast<std::size_t>(needed));
    }
    va_end(again);
    return done;
}

}  // namespace

void pllStartUpTracing(int) {
    std::lock_guard<std::mutex> lock(g_fileMutex);
    const char *variable = std::getenv("PELLOG_FILE");
    const std::string_view path = variable != nullptr ? variable : "";
    if (g_file != nullptr && path != g_file->path) {
        if (g_file->fd >= 0) ::close(g_file->fd);
        g_file->fd = -1;
        g_file->path.clear();
    }
    if (!path.empty()) {
        if (g_file == nullptr) g_file = std::make_unique<TraceFile>().release();  // kept for good
        g_file->path = path;
    }
    g_state.store(path.empty() ? kOff : kOn, std::memory_order_release);
}

void pllTrace(const char *format, ...) {
    if (g_state.load(std::memory_order_acquire) == kNotStarted) {
        const int savedErrno = errno;
        pllStartUpTracing(0);
        errno = savedErrno;
    }
    if (g_state.load(std::memory_order_acquire) != kOn || format == nullptr) return;
    const int savedErrno = errno;
    std::string text;
    va_list args;
    va_start(args, format);
    const bool formatted = Format(text, format, args);
    va_end(args);
    if (formatted) {
        const std::string line = OneLine(text);
        std::lock_guard<std::mutex> lock(g_fileMutex);
        if (g_file != nullptr && g_file->fd < 0 && !g_file->path.empty())
            g_file->fd = ::open(g_file->path.c_str(),
                                O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
        if (g_file != nullptr && g_file->fd >= 0) WriteAll(g_file->fd, line);
    }
    errno = savedErrno;
}
