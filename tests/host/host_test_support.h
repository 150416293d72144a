// Helpers for the end-to-end tests of korvane-host: run programs (the host,
// curl, xmllint, openssl) as child processes, keep a `serve` process running on
// a free loopback port, and talk to it over a plain socket when a test needs
// byte-level control.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace hosttest {

// Paths of the tree under test.
std::string HostPath();
std::string PluginPath();
std::string SourceDir();

// A fresh directory under /tmp, removed with everything in it on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return m_path; }
    // Writes `text` to PATH/name and returns the full path.
    std::string Write(const std::string &name, const std::string &text) const;

  private:
    std::string m_path;
};

std::string ReadFile(const std::string &path);

struct CommandResult {
    int exitCode = -1;  // -1: killed or not started
    std::string out;
    std::string err;
};

// Runs argv[0] (looked up in PATH) with `input` on its standard input and
// waits at most `timeout` for it to end (it is killed after that).
CommandResult RunCommand(const std::vector<std::string> &argv, const std::string &input = "",
                         std::chrono::seconds timeout = std::chrono::seconds(60));

// True when xmllint reads `document` as well-formed XML.
bool WellFormed(const std::string &document);

struct HttpResult {
    int curlExit = -1;
    int status = 0;
    std::string headers;  // as received, status line included
    std::string body;
};

// One curl transfer. `extra` goes before the URL (for example
// {"--data-binary", "@file"}).
HttpResult Curl(const std::string &url, const std::vector<std::string> &extra = {});

// korvane-host serve on 127.0.0.1:0 with `args` added; standard error goes to
// a file in `dir`.
class ServeProcess {
  public:
    ServeProcess() = default;
    ~ServeProcess();
    ServeProcess(const ServeProcess &) = delete;
    ServeProcess &operator=(const ServeProcess &) = delete;

    // Starts the server and reads its first output line ("listening on
    // 127.0.0.1:PORT"); false when it did not come.
    bool Start(const TempDir &dir, const std::vector<std::string> &args);
    int Port() const { return m_port; }
    std::string Url(const std::string &path = "/", const char *scheme = "http") const;
    pid_t Pid() const { return m_pid; }
    const std::string &FirstLine() const { return m_firstLine; }

    // Sends `signal` and waits at most `timeout` for the exit; returns the exit
    // status (-1 when it did not exit in time or died of a signal).
    int StopWith(int signal, std::chrono::milliseconds timeout);
    // Standard output after the first line; complete once the process ended.
    std::string RestOfOutput();
    std::string ErrorOutput() const;

  private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    int m_port = 0;
    std::string m_firstLine;
    std::string m_rest;
    std::string m_errPath;
};

// A TCP client on a plain socket.
class RawClient {
  public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool Connect(int port);
    bool Send(const std::string &bytes);
    // Reads until the bytes read end with `marker`, the peer closes, or
    // `timeout` passes.
    std::string ReadUntil(const std::string &marker, std::chrono::milliseconds timeout);
    // Reads until the peer closes or `timeout` passes; `closed` tells which.
    std::string ReadUntilClose(std::chrono::milliseconds timeout, bool *closed = nullptr);
    void Close();

  private:
    int m_fd = -1;
};

// True when a TCP connection to the port is refused.
bool ConnectionRefused(int port);

// The response document with the contents of its DATE element replaced by
// "DATE", so that two responses can be compared byte for byte.
std::string WithoutDate(std::string text);

// Polls `condition` every 10 ms for at most `timeout`.
template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        struct timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace hosttest
