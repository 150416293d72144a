// Helpers for the end-to-end tests of korvane-host: run programs (the host,
// curl, openssl, script) as child processes, keep a `serve` process on a free
// loopback port, talk to it over a plain socket, and replay golden transcripts
// of command lines, terminal sessions and HTTP exchanges.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace hosttest {

using std::chrono::seconds;

inline std::string Example(const std::string &name) {
    return std::string(NT_SOURCE_DIR) + "/examples/requests/" + name;
}
inline std::string FakePlugin() {
    return std::string(NT_BINARY_DIR) + "/testing/libkorvane_fake_tessel.so";
}
std::string ReadFile(const std::string &path);
// The lines of `text`, line feeds left out.
std::vector<std::string> Lines(const std::string &text);
// tests/data/host/NAME.
std::string Golden(const std::string &name);
// `text` with every NAME of `values` replaced by its value.
std::string Fill(std::string text, const std::vector<std::pair<std::string, std::string>> &values);
// The text with the date in a table's title line (whole or cut), the contents
// of every DATE element and a Date header replaced by "DATE", and the value
// of every korvane_invoke_duration_seconds line of a scrape by "N".
std::string WithoutTimes(std::string text);

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &Path() const { return m_path; }
    // Writes `text` to PATH/name; the full path.
    std::string Write(const std::string &name, const std::string &text) const;

  private:
    std::string m_path;
};

struct CommandResult {
    int exitCode = -1;  // -1: killed after the timeout, died of a signal or not started
    std::string out;
    std::string err;
};
// Runs argv[0] (looked up in PATH) with `input` on its standard input.
CommandResult RunCommand(const std::vector<std::string> &argv, const std::string &input = "",
                         seconds timeout = seconds(60));
CommandResult Host(std::vector<std::string> args, const std::string &input = "");
// What `korvane-host invoke` answers for the request file, dates blanked out.
std::string InvokeAnswer(const std::string &file);

struct HttpResult {
    int status = 0;  // 0: no answer
    std::string body;
};
// One curl transfer; `extra` goes before the URL.
HttpResult Curl(const std::string &url, const std::vector<std::string> &extra = {});
HttpResult PostFile(const std::string &url, const std::string &file);
// The bytes of a POST of `body` to /, `headers` (each with its CRLF) after Host.
std::string Post(const std::string &body, const std::string &headers = "Connection: close\r\n");

// korvane-host serve on 127.0.0.1:0, tracing to /dev/null and writing events
// to events.json in the directory it is started with, then `args` (the last
// of an option given twice counts); killed on destruction.
class ServeProcess {
  public:
    ServeProcess() = default;
    ~ServeProcess();
    ServeProcess(const ServeProcess &) = delete;
    ServeProcess &operator=(const ServeProcess &) = delete;

    // Starts the server and reads its first output line ("listening on
    // 127.0.0.1:PORT"); false when it did not come. Standard error goes to
    // a file in `dir`.
    bool Start(const TempDir &dir, const std::vector<std::string> &args);
    int Port() const { return m_port; }
    pid_t Pid() const { return m_pid; }
    std::string Url(const std::string &path = "/", const char *scheme = "http") const;
    const std::string &FirstLine() const { return m_firstLine; }
    std::string ErrorOutput() const { return ReadFile(m_errPath); }
    // Sends `signal` (none for 0) and waits at most `timeout` for the exit:
    // the exit status, or -1. `rest` receives the output after the first line.
    int StopWith(int signal, seconds timeout, std::string *rest = nullptr);

  private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    int m_port = 0;
    std::string m_firstLine;
    std::string m_errPath;
};

// A TCP client on a plain loopback socket.
class RawClient {
  public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool Connect(int port);  // false when refused
    bool Send(const std::string &bytes);
    // Reads until the bytes end with `marker` (never, when it is empty), the
    // peer closes, or `timeout` passes; `closed` tells whether it closed.
    std::string Read(seconds timeout, const std::string &marker = "", bool *closed = nullptr);

  private:
    int m_fd = -1;
};

// Polls `condition` every 10 ms for at most `timeout`.
template <class Condition>
bool WaitFor(Condition condition, seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        const timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return true;
}

// Replays the commands of a golden transcript and writes down what they did,
// in the transcript's format (so that a correct run returns `golden`):
//   $ ARGS [<<< INPUT]  korvane-host ARGS, INPUT on its standard input
//   % ARGS              (re)starts korvane-host serve ARGS on a free port
//   > ARGS PATH         curl -si ARGS http://127.0.0.1:PORT/PATH
//   ! ARGS              any program, its output kept byte for byte
// each followed by "exit N" and the "stdout:" and "stderr:" it wrote (CRLF as
// LF but for "!", times blanked out, "(no line feed)" after a last line without
// one). Words are blank-separated or "quoted" (\ escapes); @DATA@, @EXAMPLES@,
// @FAKE@, @HOST@ and @TMP@ stand for tests/data/host, the example requests,
// the stand-in plug-in, korvane-host and a scratch directory.
std::string Transcript(const std::string &golden);

}  // namespace hosttest
