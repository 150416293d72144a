#include "host_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

namespace hosttest {

namespace {

// Forks and executes argv with the given descriptors as 0, 1 and 2. Only
// async-signal-safe calls happen in the child.
pid_t Spawn(const std::vector<std::string> &argv, int in, int out, int err) {
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        // A test that dies must not leave servers behind.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

// The exit status, or -1 for a signal and (after killing it) for a process
// that did not end in time.
int WaitExit(pid_t pid, seconds timeout) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) != 0; }, timeout)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> Words(const std::string &line, const TempDir &scratch) {
    std::vector<std::string> words;
    bool quoted = false, inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (!quoted && line[i] == ' ') {
            inWord = false;
            continue;
        }
        if (!inWord) words.emplace_back();
        inWord = true;
        if (line[i] == '"')
            quoted = !quoted;
        else
            words.back() += line[i] == '\\' && quoted ? line[++i] : line[i];
    }
    for (std::string &word : words)
        word = Fill(word, {{"@DATA@", std::string(NT_SOURCE_DIR) + "/tests/data/host"},
                           {"@EXAMPLES@", Example("")},
                           {"@FAKE@", FakePlugin()},
                           {"@HOST@", NT_HOST_PATH},
                           {"@TMP@", scratch.Path()}});
    return words;
}

}  // namespace

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Golden(const std::string &name) {
    return ReadFile(std::string(NT_SOURCE_DIR) + "/tests/data/host/" + name);
}

std::string Fill(std::string text, const std::vector<std::pair<std::string, std::string>> &values) {
    for (const auto &[name, value] : values)
        for (std::size_t at = text.find(name); at != std::string::npos;
             at = text.find(name, at + value.size()))
            text.replace(at, name.size(), value);
    return text;
}

// Replaces what follows each `open` up to the next of `closers` by `value`.
void ReplaceAfter(std::string &text, const std::string &open, const char *closers,
                  const std::string &value) {
    for (std::size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1)) {
        const std::size_t from = at + open.size();
        text.replace(from, text.find_first_of(closers, from) - from, value);
    }
}

std::string WithoutTimes(std::string text) {
    static const std::string kDuration = "\nkorvane_invoke_duration_seconds";
    const std::size_t titleEnd = text.find('\n');
    for (const char *day : {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"}) {
        const std::size_t at = text.find(std::string(" (") + day);
        if (at < titleEnd) text.replace(at, titleEnd - at, " (DATE)");
    }
    ReplaceAfter(text, "<DATE>", "<", "DATE");
    ReplaceAfter(text, "\nDate: ", "\r\n", "DATE");
    for (std::size_t at = text.find(kDuration); at != std::string::npos;
         at = text.find(kDuration, at + 1)) {
        const std::size_t end = text.find('\n', at + 1), value = text.rfind(' ', end) + 1;
        text.replace(value, end - value, "N");
    }
    return text;
}

TempDir::TempDir() {
    char pattern[] = "/tmp/korvane-test-XXXXXX";
    m_path = mkdtemp(pattern) != nullptr ? pattern : "/nonexistent";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string TempDir::Write(const std::string &name, const std::string &text) const {
    const std::string path = m_path + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

CommandResult RunCommand(const std::vector<std::string> &argv, const std::string &input,
                         seconds timeout) {
    // Files rather than pipes: nothing to pump while waiting.
    TempDir dir;
    const std::string out = dir.Path() + "/out", err = dir.Path() + "/err";
    const int fds[3] = {open(dir.Write("in", input).c_str(), O_RDONLY | O_CLOEXEC),
                        open(out.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644),
                        open(err.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)};
    const pid_t pid = Spawn(argv, fds[0], fds[1], fds[2]);
    for (int fd : fds) close(fd);
    return {pid > 0 ? WaitExit(pid, timeout) : -1, ReadFile(out), ReadFile(err)};
}

CommandResult Host(std::vector<std::string> args, const std::string &input) {
    args.insert(args.begin(), NT_HOST_PATH);
    return RunCommand(args, input);
}

std::string InvokeAnswer(const std::string &file) {
    return WithoutTimes(Host({"invoke", "--trace-file", "/dev/null", file}).out);
}

HttpResult Curl(const std::string &url, const std::vector<std::string> &extra) {
    TempDir dir;
    std::vector<std::string> argv = {"curl", "-sS",         "-o", dir.Path() + "/body",
                                     "-w",   "%{http_code}"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(url);
    return {std::atoi(RunCommand(argv).out.c_str()), ReadFile(dir.Path() + "/body")};
}

HttpResult PostFile(const std::string &url, const std::string &file) {
    return Curl(url, {"--data-binary", "@" + file});
}

std::string Post(const std::string &body, const std::string &headers) {
    return "POST / HTTP/1.1\r\nHost: h\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

ServeProcess::~ServeProcess() {
    StopWith(SIGKILL, seconds(10));
    if (m_stdout >= 0) close(m_stdout);
}

bool ServeProcess::Start(const TempDir &dir, const std::vector<std::string> &args) {
    std::vector<std::string> argv = {
        NT_HOST_PATH,   "serve",     "--listen", "127.0.0.1:0",
        "--trace-file", "/dev/null", "--events", dir.Path() + "/events.json"};
    argv.insert(argv.end(), args.begin(), args.end());
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    m_errPath = dir.Path() + "/serve.stderr";
    const int err = open(m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    m_pid = Spawn(argv, in, out[1], err);
    for (int fd : {in, err, out[1]}) close(fd);
    m_stdout = out[0];

    const auto deadline = std::chrono::steady_clock::now() + seconds(20);
    char c = 0;
    for (pollfd fd = {m_stdout, POLLIN, 0}; c != '\n' && poll(&fd, 1, 100) >= 0;) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if ((fd.revents & POLLIN) == 0) continue;
        if (read(m_stdout, &c, 1) != 1) return false;
        if (c != '\n') m_firstLine += c;
    }
    const std::string prefix = "listening on 127.0.0.1:";
    m_port = m_firstLine.rfind(prefix, 0) == 0 ? std::atoi(m_firstLine.c_str() + prefix.size()) : 0;
    const std::string rest = m_firstLine.substr(
        std::min(m_firstLine.size(), prefix.size() + std::to_string(m_port).size()));
    return m_port > 0 && (rest.empty() || rest == " (https)");
}

std::string ServeProcess::Url(const std::string &path, const char *scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(m_port) + path;
}

int ServeProcess::StopWith(int signal, seconds timeout, std::string *rest) {
    if (m_pid <= 0) return -1;
    if (signal != 0) kill(m_pid, signal);
    const int status = WaitExit(m_pid, timeout);
    m_pid = -1;
    char buffer[4096];
    for (ssize_t n; rest != nullptr && (n = read(m_stdout, buffer, sizeof buffer)) > 0;)
        rest->append(buffer, static_cast<std::size_t>(n));
    return status;
}

RawClient::~RawClient() {
    if (m_fd >= 0) close(m_fd);
}

bool RawClient::Connect(int port) {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

bool RawClient::Send(const std::string &bytes) {
    return send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

std::string RawClient::Read(seconds timeout, const std::string &marker, bool *closed) {
    std::string bytes;
    bool sawEnd = false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    while (!sawEnd && (marker.empty() || bytes.size() < marker.size() ||
                       bytes.compare(bytes.size() - marker.size(), marker.size(), marker) != 0)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd = {m_fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        sawEnd = n <= 0;  // orderly close or reset
        if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    }
    if (closed != nullptr) *closed = sawEnd;
    return bytes;
}

std::string Transcript(const std::string &golden) {
    TempDir scratch;
    std::unique_ptr<ServeProcess> server;
    std::string transcript;
    for (const std::string &line : Lines(golden)) {
        if (line.empty() || std::string("$%>!").find(line[0]) == std::string::npos ||
            (line.size() > 1 && line[1] != ' '))
            continue;
        transcript += line + "\n";
        const std::size_t input = line.find(" <<< ");
        std::vector<std::string> words = Words(line.substr(1, input - 1), scratch);
        CommandResult run;
        if (line[0] == '%') {
            server = std::make_unique<ServeProcess>();
            if (!server->Start(scratch, words)) transcript += "not started\n";
            continue;
        } else if (line[0] == '$') {
            run = Host(words, input == std::string::npos ? "" : line.substr(input + 5));
        } else if (line[0] == '!') {
            run = RunCommand(words);
        } else if (server != nullptr) {
            words.back() = server->Url(words.back());
            words.insert(words.begin(), {"curl", "-sSi"});
            run = RunCommand(words);
        }
        if (line[0] != '!') run.out = Fill(run.out, {{"\r\n", "\n"}});
        transcript += "exit " + std::to_string(run.exitCode) + "\n";
        if (!run.out.empty())
            transcript += "stdout:\n" + WithoutTimes(run.out) +
                          (run.out.back() == '\n' ? "" : "\n(no line feed)\n");
        if (!run.err.empty()) transcript += "stderr:\n" + run.err;
    }
    return transcript;
}

}  // namespace hosttest
