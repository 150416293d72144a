// The plug-in's trace (everything written to standard error) kept in a file
// of bounded size. Standard error becomes a pipe; a thread copies it into the
// file line by line, so a line is never split between two files:
//   - before a line would take the file past `maxBytes`, the file is rotated:
//     FILE.N-1 becomes FILE.N ... FILE becomes FILE.1, the oldest beyond
//     `keep` is removed, and a new FILE is started (with `keep` 0 the file is
//     emptied instead);
//   - SIGHUP reopens FILE by name, so that it can be moved away and a new
//     one started; a file emptied in place by someone else is noticed too;
//   - a line longer than kMaxLine is ended with a line feed there, which
//     bounds the memory held and lets `maxBytes` hold.
// Disk taken at most: (keep + 1) * maxBytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace korvane {

struct TraceFileOptions {
    static constexpr std::size_t kMaxLine = std::size_t{64} << 10;
    std::string path;
    std::uint64_t maxBytes = std::uint64_t{64} << 20;
    unsigned keep = 4;
};

class TraceFile {
  public:
    TraceFile() = default;
    ~TraceFile() { Close(); }
    TraceFile(const TraceFile &) = delete;
    TraceFile &operator=(const TraceFile &) = delete;

    // Opens the file (appending) and points standard error at the copying
    // thread. The host's own messages keep going where standard error went
    // before. False with `error` set, and standard error unchanged.
    bool Open(const TraceFileOptions &options, std::string &error);
    // Copies what is still on its way, then points standard error at the
    // file itself (for whatever the process writes while it exits).
    // Idempotent.
    void Close();

  private:
    void Run();
    void Copy(const char *data, std::size_t size);
    void Write(const std::string &bytes);
    void Rotate();
    void Reopen();
    void Replace(int fresh);

    TraceFileOptions m_options;
    std::mutex m_fileMutex;  // m_file changes on the thread, Close reads it
    int m_file = -1;
    int m_pipe = -1;    // read end; standard error is the write end
    int m_hangup = -1;  // the SIGHUP notification pipe
    int m_hangupWrite = -1;
    std::string m_line;  // the start of a line not yet ended
    std::string m_batch;
    std::uint64_t m_size = 0;
    std::thread m_thread;
};

}  // namespace korvane
