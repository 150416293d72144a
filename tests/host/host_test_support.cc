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

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

namespace hosttest {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

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

// The exit status; -1 for a signal; -2 (after killing it) when the process
// did not end in time.
int WaitExit(pid_t pid, seconds timeout) {
    int status = 0;
    if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) != 0; }, timeout)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -2;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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

TempDir::TempDir() {
    char pattern[] = "/tmp/korvane-test-XXXXXX";
    const char *made = mkdtemp(pattern);
    m_path = made != nullptr ? made : "/tmp";
}

TempDir::~TempDir() {
    std::error_code ignored;
    if (m_path != "/tmp") std::filesystem::remove_all(m_path, ignored);
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
    CommandResult result;
    if (pid > 0) result.exitCode = std::max(WaitExit(pid, timeout), -1);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

CommandResult Host(std::vector<std::string> args, const std::string &input) {
    args.insert(args.begin(), NT_HOST_PATH);
    return RunCommand(args, input);
}

bool WellFormed(const std::string &document) {
    return RunCommand({"xmllint", "--noout", "--nonet", "-"}, document).exitCode == 0;
}

std::string WithoutDate(const std::string &text) {
    static const std::regex kDate(R"(<DATE>[^<]*</DATE>)");
    return std::regex_replace(text, kDate, "<DATE>DATE</DATE>");
}

HttpResult Curl(const std::string &url, const std::vector<std::string> &extra) {
    TempDir dir;
    const std::string headers = dir.Path() + "/headers", body = dir.Path() + "/body";
    std::vector<std::string> argv = {"curl",  "-sS", "--max-time", "30", "-D",
                                     headers, "-o",  body,         "-w", "%{http_code}"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(url);
    const CommandResult run = RunCommand(argv);
    return {run.exitCode, std::atoi(run.out.c_str()), ReadFile(headers), ReadFile(body)};
}

HttpResult PostFile(const std::string &url, const std::string &file) {
    return Curl(url, {"--data-binary", "@" + file});
}

ServeProcess::~ServeProcess() {
    StopWith(SIGKILL, seconds(10));
    if (m_stdout >= 0) close(m_stdout);
}

bool ServeProcess::Start(const TempDir &dir, const std::vector<std::string> &args) {
    std::vector<std::string> argv = {NT_HOST_PATH, "serve", "--listen", "127.0.0.1:0"};
    argv.insert(argv.end(), args.begin(), args.end());
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    m_errPath = dir.Path() + "/serve.stderr";
    const int err = open(m_errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    m_pid = Spawn(argv, in, out[1], err);
    close(in);
    close(err);
    close(out[1]);
    m_stdout = out[0];

    const auto deadline = std::chrono::steady_clock::now() + seconds(20);
    char c = 0;
    while (m_pid > 0 && c != '\n' && std::chrono::steady_clock::now() < deadline) {
        pollfd fd = {m_stdout, POLLIN, 0};
        if (poll(&fd, 1, 100) <= 0) continue;
        if (read(m_stdout, &c, 1) != 1) break;
        if (c != '\n') m_firstLine += c;
    }
    static const std::regex kListening(R"(listening on 127\.0\.0\.1:(\d+)( \(https\))?)");
    std::smatch match;
    if (c != '\n' || !std::regex_match(m_firstLine, match, kListening)) return false;
    m_port = std::atoi(match[1].str().c_str());
    return m_port > 0;
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
    return std::max(status, -1);
}

RawClient::~RawClient() {
    if (m_fd >= 0) close(m_fd);
}

bool RawClient::Connect(int port) {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
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
        if (n > 0)
            bytes.append(buffer, static_cast<std::size_t>(n));
        else
            sawEnd = true;  // orderly close or reset
    }
    if (closed != nullptr) *closed = sawEnd;
    return bytes;
}

}  // namespace hosttest
