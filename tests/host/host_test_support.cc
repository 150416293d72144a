#include "host_test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

namespace hosttest {

namespace {

// The loopback address on `port`.
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

int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    int status = 0;
    const bool exited = WaitFor(
        [&] {
            const pid_t done = waitpid(pid, &status, WNOHANG);
            return done == pid || (done < 0 && errno == ECHILD);
        },
        timeout);
    if (!exited) return -2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::string HostPath() {
    return NT_HOST_PATH;
}
std::string PluginPath() {
    return NT_PLUGIN_PATH;
}
std::string SourceDir() {
    return NT_SOURCE_DIR;
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

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

CommandResult RunCommand(const std::vector<std::string> &argv, const std::string &input,
                         std::chrono::seconds timeout) {
    CommandResult result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0) return result;
    if (pipe2(out, O_CLOEXEC) != 0) return result;
    if (pipe2(err, O_CLOEXEC) != 0) return result;
    const pid_t pid = Spawn(argv, in[0], out[1], err[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        close(err[0]);
        return result;
    }
    fcntl(in[1], F_SETFL, O_NONBLOCK);
    std::size_t written = 0;
    if (input.empty()) {
        close(in[1]);
        in[1] = -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool outOpen = true, errOpen = true;
    char buffer[65536];
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
        if (!outOpen) fds[0].fd = -1;
        if (!errOpen) fds[1].fd = -1;
        if (poll(fds, 3, 100) < 0 && errno != EINTR) break;
        if (fds[0].revents != 0) {
            const ssize_t n = read(out[0], buffer, sizeof buffer);
            if (n > 0)
                result.out.append(buffer, static_cast<std::size_t>(n));
            else
                outOpen = false;
        }
        if (fds[1].revents != 0) {
            const ssize_t n = read(err[0], buffer, sizeof buffer);
            if (n > 0)
                result.err.append(buffer, static_cast<std::size_t>(n));
            else
                errOpen = false;
        }
        if (in[1] >= 0 && fds[2].revents != 0) {
            const ssize_t n = write(in[1], input.data() + written, input.size() - written);
            if (n > 0) written += static_cast<std::size_t>(n);
            if (n < 0 || written == input.size()) {
                close(in[1]);
                in[1] = -1;
            }
        }
    }
    if (in[1] >= 0) close(in[1]);
    close(out[0]);
    close(err[0]);
    if (outOpen || errOpen) kill(pid, SIGKILL);
    result.exitCode = WaitExit(pid, std::chrono::seconds(10));
    return result;
}

bool WellFormed(const std::string &document) {
    return RunCommand({"xmllint", "--noout", "--nonet", "-"}, document).exitCode == 0;
}

HttpResult Curl(const std::string &url, const std::vector<std::string> &extra) {
    HttpResult result;
    TempDir dir;
    const std::string headers = dir.Path() + "/headers";
    const std::string body = dir.Path() + "/body";
    std::vector<std::string> argv = {"curl",  "-s", "-S", "--max-time", "30",          "-D",
                                     headers, "-o", body, "-w",         "%{http_code}"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(url);
    const CommandResult run = RunCommand(argv);
    result.curlExit = run.exitCode;
    result.status = std::atoi(run.out.c_str());
    result.headers = ReadFile(headers);
    result.body = ReadFile(body);
    return result;
}

ServeProcess::~ServeProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        WaitExit(m_pid, std::chrono::seconds(10));
    }
    if (m_stdout >= 0) close(m_stdout);
}

bool ServeProcess::Start(const TempDir &dir, const std::vector<std::string> &args) {
    std::vector<std::string> argv = {HostPath(), "serve", "--listen", "127.0.0.1:0"};
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
    if (m_pid < 0) return false;

    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd fd = {m_stdout, POLLIN, 0};
        if (poll(&fd, 1, 100) <= 0) continue;
        char c;
        if (read(m_stdout, &c, 1) != 1) break;
        line += c;
    }
    if (line.empty() || line.back() != '\n') return false;
    line.pop_back();
    m_firstLine = line;
    static const std::regex kListening(R"(listening on 127\.0\.0\.1:(\d+)( \(https\))?)");
    std::smatch match;
    if (!std::regex_match(line, match, kListening)) return false;
    m_port = std::atoi(match[1].str().c_str());
    return m_port > 0;
}

std::string ServeProcess::Url(const std::string &path, const char *scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(m_port) + path;
}

int ServeProcess::StopWith(int signal, std::chrono::milliseconds timeout) {
    if (m_pid <= 0) return -1;
    kill(m_pid, signal);
    const int status = WaitExit(m_pid, timeout);
    if (status != -2) m_pid = -1;
    return status == -2 ? -1 : status;
}

std::string ServeProcess::RestOfOutput() {
    if (m_stdout < 0) return m_rest;
    char buffer[4096];
    for (;;) {
        pollfd fd = {m_stdout, POLLIN, 0};
        if (poll(&fd, 1, m_pid > 0 ? 0 : 1000) <= 0) break;
        const ssize_t n = read(m_stdout, buffer, sizeof buffer);
        if (n <= 0) break;
        m_rest.append(buffer, static_cast<std::size_t>(n));
    }
    return m_rest;
}

std::string ServeProcess::ErrorOutput() const {
    return ReadFile(m_errPath);
}

RawClient::~RawClient() {
    Close();
}

bool RawClient::Connect(int port) {
    Close();
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0) return false;
    const sockaddr_in address = Loopback(port);
    return connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

bool RawClient::Send(const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string RawClient::ReadUntilClose(std::chrono::milliseconds timeout, bool *closed) {
    std::string bytes;
    bool sawEnd = false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[65536];
    while (!sawEnd) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fd = {m_fd, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n > 0)
            bytes.append(buffer, static_cast<std::size_t>(n));
        else
            sawEnd = true;  // orderly close or reset
    }
    if (closed != nullptr) *closed = sawEnd;
    return bytes;
}

std::string RawClient::ReadUntil(const std::string &marker, std::chrono::milliseconds timeout) {
    std::string bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < marker.size() ||
           bytes.compare(bytes.size() - marker.size(), marker.size(), marker) != 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fd = {m_fd, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
        char c;
        if (recv(m_fd, &c, 1, 0) != 1) break;
        bytes += c;
    }
    return bytes;
}

void RawClient::Close() {
    if (m_fd >= 0) close(m_fd);
    m_fd = -1;
}

bool ConnectionRefused(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port);
    const bool refused =
        connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 &&
        errno == ECONNREFUSED;
    close(fd);
    return refused;
}

std::string WithoutDate(std::string text) {
    static const std::regex kDate(R"(<DATE>[^<]*</DATE>)");
    return std::regex_replace(text, kDate, "<DATE>DATE</DATE>");
}

}  // namespace hosttest
