#include "trace_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli.h"

namespace korvane {

namespace {

// Where the SIGHUP handler leaves its note for the copying thread.
std::atomic<int> g_hangupNote{-1};
struct sigaction g_previousHangup {};

extern "C" void OnHangup(int) {
    const int saved = errno;
    const int fd = g_hangupNote.load();
    if (fd >= 0 && ::write(fd, "h", 1) < 0) {
        // Full: a reopen is already on its way.
    }
    errno = saved;
}

void CloseFd(int &fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

int OpenAppending(const std::string &path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void Report(const std::string &what, const std::string &path) {
    PrintError(what + " " + path + ": " + std::strerror(errno));
}

// Our own messages keep going where standard error went at start.
void KeepMessagesOnStandardError() {
    static const int kOriginal = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (kOriginal >= 0) SetMessageDescriptor(kOriginal);
}

}  // namespace

bool TraceFile::Open(const TraceFileOptions &options, std::string &error) {
    Close();
    m_options = options;
    KeepMessagesOnStandardError();
    m_file = OpenAppending(options.path);
    struct stat status {};
    if (m_file < 0 || ::fstat(m_file, &status) != 0) {
        error = "cannot open trace file " + options.path + ": " + std::strerror(errno);
        CloseFd(m_file);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        // /dev/null, a terminal, a FIFO: nothing to bound or rotate.
        const bool redirected = ::dup2(m_file, STDERR_FILENO) >= 0;
        if (!redirected)
            error = "cannot redirect standard error: " + std::string(std::strerror(errno));
        CloseFd(m_file);
        return redirected;
    }
    m_size = static_cast<std::uint64_t>(status.st_size);

    int data[2] = {-1, -1}, hangup[2] = {-1, -1};
    if (::pipe2(data, O_CLOEXEC) != 0 || ::pipe2(hangup, O_CLOEXEC | O_NONBLOCK) != 0 ||
        ::dup2(data[1], STDERR_FILENO) < 0) {
        error = "cannot redirect standard error: " + std::string(std::strerror(errno));
        for (int *fd : {&data[0], &data[1], &hangup[0], &hangup[1], &m_file}) CloseFd(*fd);
        return false;
    }
    CloseFd(data[1]);
    // Room for bursts, so that writers rarely wait for the disk.
    ::fcntl(data[0], F_SETPIPE_SZ, 1 << 20);
    m_pipe = data[0];
    m_hangup = hangup[0];
    m_hangupWrite = hangup[1];
    g_hangupNote = m_hangupWrite;
    struct sigaction action {};
    action.sa_handler = OnHangup;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGHUP, &action, &g_previousHangup);
    m_thread = std::thread([this] { Run(); });
    return true;
}

void TraceFile::Close() {
    if (!m_thread.joinable()) return;
    ::sigaction(SIGHUP, &g_previousHangup, nullptr);
    g_hangupNote = -1;
    // Standard error stops being the pipe's last write end: the thread copies
    // what is left and sees the end.
    {
        std::lock_guard<std::mutex> lock(m_fileMutex);
        ::dup2(m_file, STDERR_FILENO);
    }
    m_thread.join();
    ::dup2(m_file, STDERR_FILENO);  // the thread may have started a new file
    for (int *fd : {&m_pipe, &m_hangup, &m_hangupWrite, &m_file}) CloseFd(*fd);
    m_line.clear();
}

void TraceFile::Run() {
    std::string buffer(std::size_t{64} << 10, '\0');
    pollfd fds[2] = {{m_pipe, POLLIN, 0}, {m_hangup, POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[1].revents & POLLIN) {
            char notes[64];
            while (::read(m_hangup, notes, sizeof notes) > 0) {
            }
            Reopen();
        }
        if (fds[0].revents == 0) continue;
        const ssize_t got = ::read(m_pipe, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        Copy(buffer.data(), static_cast<std::size_t>(got));
    }
    // A last line without its line feed is kept as it is.
    Write(m_line);
    m_line.clear();
}

void TraceFile::Copy(const char *data, std::size_t size) {
    // Someone may have emptied the file in place (copy and truncate).
    struct stat status {};
    if (::fstat(m_file, &status) == 0) m_size = static_cast<std::uint64_t>(status.st_size);
    while (size > 0) {
        const char *end = static_cast<const char *>(std::memchr(data, '\n', size));
        std::size_t text = end != nullptr ? static_cast<std::size_t>(end - data) : size;
        const std::size_t room = TraceFileOptions::kMaxLine - 1 - m_line.size();
        bool ended = end != nullptr;
        if (text > room) {
            text = room;
            ended = true;
            m_line.append(data, text);
            m_line += '\n';
        } else {
            m_line.append(data, text + (ended ? 1 : 0));
            if (ended) ++text;
        }
        data += text;
        size -= text;
        if (!ended) break;
        const std::uint64_t used = m_size + m_batch.size();
        if (used > 0 && used + m_line.size() > m_options.maxBytes) {
            Write(m_batch);
            m_batch.clear();
            Rotate();
        }
        m_batch += m_line;
        m_line.clear();
    }
    Write(m_batch);
    m_batch.clear();
}

void TraceFile::Write(const std::string &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(m_file, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;  // disk full and the like: the lines are lost
        done += static_cast<std::size_t>(wrote);
    }
    m_size += done;
}

void TraceFile::Rotate() {
    m_size = 0;
    if (m_options.keep == 0) {
        if (::ftruncate(m_file, 0) != 0) Report("cannot empty trace file", m_options.path);
        return;
    }
    const std::string &path = m_options.path;
    for (unsigned k = m_options.keep; k > 1; --k)
        ::rename((path + "." + std::to_string(k - 1)).c_str(),
                 (path + "." + std::to_string(k)).c_str());
    ::rename(path.c_str(), (path + ".1").c_str());
    const int fresh = OpenAppending(path);
    if (fresh < 0) {
        // Carry on in the moved file; the next rotation tries again.
        Report("cannot start a new trace file", path);
        return;
    }
    Replace(fresh);
}

void TraceFile::Replace(int fresh) {
    std::lock_guard<std::mutex> lock(m_fileMutex);
    ::close(m_file);
    m_file = fresh;
}

void TraceFile::Reopen() {
    const int fresh = OpenAppending(m_options.path);
    if (fresh < 0) return Report("cannot reopen trace file", m_options.path);
    Replace(fresh);
    struct stat status {};
    m_size = ::fstat(m_file, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

}  // namespace korvane
