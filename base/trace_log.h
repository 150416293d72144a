// The process-wide trace log.
//
// Every message goes to the debugger channel (standard error); in file mode
// (level 4 with a file open) also to the log file, one dated line each,
// flushed at once. Lines stay whole across threads. Usable before any plug-in
// object exists and after it is gone.
//
// A thread inside a TslBatch gathers its short debugger-channel lines and
// writes them together, whole lines of at most PIPE_BUF bytes in one write:
// the lines of one invoke cost one system call instead of ten. A warning or an
// error is written at once, behind the lines gathered before it; so is
// everything when the batch ends. A crash inside a batch loses the trace lines
// it gathered.
#pragma once

#include <cstddef>

enum TslLevel : int {
    TSL_NOLEVEL = 0,
    TSL_ERROR = 1,
    TSL_WARNING = 2,
    TSL_TRACE = 3,
    TSL_FILE = 4,
};

// Longest message behind the prefix, including its terminating zero. A longer
// message is cut to fit, and its last byte kept becomes a line feed.
inline constexpr std::size_t kTslMessageBytes = 8172;

// Writes one message when `level` passes the current level (at level 4 every
// message passes). The format carries its own line end.
void TslLog(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// True when a message of `level` would be written; lets callers skip building
// costly arguments.
bool TslLogEnabled(int level);

void TslSetLevel(int level);
int TslGetLevel();

// Opens `path` for writing (truncating it); closes an earlier file first. A file
// that cannot be opened leaves file mode without a file.
void TslOpenLogFile(const char *path);
// Flushes and closes the log file, if any. The level is left as it is.
void TslCloseLogFile();
// Where debugger-channel lines go instead of standard error: `sink` gets each
// whole line (prefix included, no terminating zero) under the log lock, one
// call at a time. A null sink restores standard error. Meant for tests and
// embedders that read the log directly; file mode is unaffected.
using TslSinkFn = void (*)(void *context, const char *line, std::size_t size);
void TslSetDebugSink(TslSinkFn sink, void *context);

// Closes the file; used by the library unload hook, after which the log still
// works on the debugger channel.
void TslShutdown();

// Gathers the calling thread's trace lines while alive (see above); nests.
class TslBatch {
  public:
    TslBatch();
    ~TslBatch();
    TslBatch(const TslBatch &) = delete;
    TslBatch &operator=(const TslBatch &) = delete;
};

// The calling thread's identifier as shown in the 8-digit prefix field.
unsigned TslThreadId();
