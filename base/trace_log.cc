#include "base/trace_log.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/clock.h"

namespace {

// Plain POSIX state: constant-initialised and trivially destructible, so the log
// keeps working while the library is being loaded or unloaded.
// The log lock: shared for a short line to the debugger channel, exclusive for
// anything else (long lines, the log file, opening and closing it).
pthread_rwlock_t g_logLock = PTHREAD_RWLOCK_INITIALIZER;
std::atomic<int> g_level{TSL_TRACE};
std::FILE *g_logFile = nullptr;  // guarded by g_logLock (exclusive)
// Set only by tests and embedders; while set, every line takes the lock alone
// so the sink sees one call at a time.
std::atomic<TslSinkFn> g_sink{nullptr};
void *g_sinkContext = nullptr;  // guarded by g_logLock (exclusive)

const char *TagFor(int level) {
    switch (level) {
        case TSL_ERROR:
            return "ERROR: ";
        case TSL_WARNING:
            return "WARN:  ";
        case TSL_TRACE:
            return "TRACE: ";
        default:
            return "?LEVEL?";
    }
}

bool Passes(int level, int current) {
    return current == TSL_FILE || level <= current;
}

void WriteAll(int fd, const char *data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0) return;  // the log reports nothing about itself
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// The calling thread's gathered lines: plain data, so that a thread ending
// after the library is gone runs no code of it.
struct Batch {
    int depth;
    std::size_t size;
    char bytes[PIPE_BUF];
};
thread_local Batch t_batch;

class LogLock {
  public:
    explicit LogLock(bool shared = false) {
        if (shared) {
            pthread_rwlock_rdlock(&g_logLock);
        } else {
            pthread_rwlock_wrlock(&g_logLock);
        }
    }
    ~LogLock() { pthread_rwlock_unlock(&g_logLock); }
    LogLock(const LogLock &) = delete;
    LogLock &operator=(const LogLock &) = delete;
};

void FlushBatch() {
    if (t_batch.size == 0) return;
    {
        LogLock shared(true);
        WriteAll(STDERR_FILENO, t_batch.bytes, t_batch.size);
    }
    t_batch.size = 0;
}

}  // namespace

TslBatch::TslBatch() {
    ++t_batch.depth;
}

TslBatch::~TslBatch() {
    if (--t_batch.depth == 0) FlushBatch();
}

// pthread_t is an unsigned long on Linux; its low 32 bits keep the prefix at 20 characters.
unsigned TslThreadId() {
    return static_cast<unsigned>(pthread_self() & 0xFFFFFFFFu);
}

bool TslLogEnabled(int level) {
    return Passes(level, g_level.load(std::memory_order_relaxed));
}

void TslLog(int level, const char *format, ...) {
    // A rejected message costs one load: nothing is formatted and no lock taken.
    if (!TslLogEnabled(level) || format == nullptr) return;

    constexpr std::size_t kPrefixBytes = 20;
    char line[kPrefixBytes + kTslMessageBytes];
    std::snprintf(line, sizeof line, "%s[0x%08x] ", TagFor(level), TslThreadId());
    const std::size_t prefix = std::strlen(line);
    va_list args;
    va_start(args, format);
    const int wanted = std::vsnprintf(line + prefix, kTslMessageBytes, format, args);
    va_end(args);
    if (wanted < 0) return;
    const std::size_t body =
        std::min<std::size_t>(static_cast<std::size_t>(wanted), kTslMessageBytes - 1);
    const std::size_t total = prefix + body;
    // A cut message still ends its line, or the next one would be glued onto it.
    if (static_cast<std::size_t>(wanted) > body) line[total - 1] = '\n';

    // One write(2) of a whole line up to PIPE_BUF bytes is never interleaved
    // with another (pipes by POSIX; files and terminals by the kernel's own
    // locking), so short lines to the debugger channel share the lock and do
    // not queue behind each other's system calls (an invoke logs about ten).
    // Longer lines and the log file take it alone.
    const int current = g_level.load(std::memory_order_relaxed);
    const bool toFile = current == TSL_FILE;
    if (!toFile && total <= PIPE_BUF && g_sink.load(std::memory_order_relaxed) == nullptr) {
        if (t_batch.depth > 0) {
            if (t_batch.size + total > PIPE_BUF) FlushBatch();
            std::memcpy(t_batch.bytes + t_batch.size, line, total);
            t_batch.size += total;
            if (level != TSL_TRACE) FlushBatch();
            return;
        }
        LogLock shared(true);
        WriteAll(STDERR_FILENO, line, total);
        return;
    }
    // Whatever this thread gathered goes first, to keep its lines in order.
    FlushBatch();
    LogLock lock;
    const int locked = g_level.load(std::memory_order_relaxed);
    if (!Passes(level, locked)) return;
    if (const TslSinkFn sink = g_sink.load(std::memory_order_relaxed); sink != nullptr) {
        sink(g_sinkContext, line, total);
    } else {
        WriteAll(STDERR_FILENO, line, total);
    }
    if (locked == TSL_FILE && g_logFile != nullptr) {
        char date[128] = {};
        char time[128] = {};
        const std::time_t now = TslNow();
        std::tm local{};
        localtime_r(&now, &local);
        std::strftime(date, sizeof date, "%m/%d/%y", &local);
        std::strftime(time, sizeof time, "%H:%M:%S", &local);
        std::fprintf(g_logFile, "%s %s: %.*s", date, time, static_cast<int>(total), line);
        std::fflush(g_logFile);
    }
}

void TslSetLevel(int level) {
    g_level.store(level, std::memory_order_relaxed);
}

int TslGetLevel() {
    return g_level.load(std::memory_order_relaxed);
}

void TslOpenLogFile(const char *path) {
    LogLock lock;
    if (g_logFile != nullptr) {
        std::fclose(g_logFile);
        g_logFile = nullptr;
    }
    if (path != nullptr) g_logFile = std::fopen(path, "w");
}

void TslCloseLogFile() {
    LogLock lock;
    if (g_logFile != nullptr) {
        std::fflush(g_logFile);
        std::fclose(g_logFile);
        g_logFile = nullptr;
    }
}

void TslSetDebugSink(TslSinkFn sink, void *context) {
    LogLock lock;
    g_sinkContext = context;
    g_sink.store(sink, std::memory_order_relaxed);
}

void TslShutdown() {
    TslCloseLogFile();
}
