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

// The open trace file. Never destroyed: traces may come from static
// destructors of other libraries.
struct TraceFile {
    enum State { kNotStarted, kOff, kOn };
    std::atomic<int> state{kNotStarted};
    std::mutex mutex;
    std::string path;  // PELLOG_FILE at the last start-up
    int fd = -1;       // open for `path`, or -1
};

TraceFile &TheFile() {
    static TraceFile *const file = std::make_unique<TraceFile>().release();  // deliberately kept
    return *file;
}

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
    TraceFile &file = TheFile();
    std::lock_guard<std::mutex> lock(file.mutex);
    const char *variable = std::getenv("PELLOG_FILE");
    const std::string path = variable != nullptr ? variable : "";
    if (path != file.path && file.fd >= 0) {
        ::close(file.fd);
        file.fd = -1;
    }
    file.path = path;
    file.state.store(path.empty() ? TraceFile::kOff : TraceFile::kOn, std::memory_order_release);
}

void pllTrace(const char *format, ...) {
    TraceFile &file = TheFile();
    if (file.state.load(std::memory_order_acquire) == TraceFile::kNotStarted) {
        const int savedErrno = errno;
        pllStartUpTracing(0);
        errno = savedErrno;
    }
    if (file.state.load(std::memory_order_acquire) != TraceFile::kOn || format == nullptr) return;
    const int savedErrno = errno;
    std::string text;
    va_list args;
    va_start(args, format);
    const bool formatted = Format(text, format, args);
    va_end(args);
    if (formatted) {
        const std::string line = OneLine(text);
        std::lock_guard<std::mutex> lock(file.mutex);
        if (file.fd < 0 && !file.path.empty())
            file.fd = ::open(file.path.c_str(),
                             O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
        if (file.fd >= 0) WriteAll(file.fd, line);
    }
    errno = savedErrno;
}
