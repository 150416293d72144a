#include "support/test_host.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testhost {

int32_t HostCallback(const char *tesselName, const char *operation, ...);

namespace {

// The host that receives callbacks: the most recently constructed live one.
std::mutex g_currentMutex;
TestHost *g_current = nullptr;

TestHost *CurrentHost() {
    std::lock_guard<std::mutex> lock(g_currentMutex);
    return g_current;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Text(const char *text) {
    return text != nullptr ? text : "";
}

}  // namespace

std::string PluginPath() {
    return NT_PLUGIN_PATH;
}

std::string UrlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = HexValue(text[i + 1]);
            const int lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// ---- StderrCapture ------------------------------------------------------------

StderrCapture::~StderrCapture() {
    if (Active()) Stop();
}

bool StderrCapture::Start() {
    if (Active()) return false;
    char path[] = "/tmp/nt-stderr-XXXXXX";
    m_fileFd = ::mkstemp(path);
    if (m_fileFd < 0) return false;
    ::unlink(path);
    // Appending keeps each write(2) whole even when several threads log.
    ::fcntl(m_fileFd, F_SETFL, ::fcntl(m_fileFd, F_GETFL) | O_APPEND);
    std::fflush(stderr);
    m_savedFd = ::dup(STDERR_FILENO);
    if (m_savedFd < 0 || ::dup2(m_fileFd, STDERR_FILENO) < 0) {
        if (m_savedFd >= 0) ::close(m_savedFd);
        ::close(m_fileFd);
        m_savedFd = m_fileFd = -1;
        return false;
    }
    return true;
}

std::string StderrCapture::Stop() {
    if (!Active()) return {};
    std::fflush(stderr);
    ::dup2(m_savedFd, STDERR_FILENO);
    ::close(m_savedFd);
    m_savedFd = -1;
    std::string text;
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(m_fileFd, buffer, sizeof buffer, offset);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
    ::close(m_fileFd);
    m_fileFd = -1;
    return text;
}

// ---- TestHost -------------------------------------------------------------------

class TestHost::CaptureScope {
  public:
    explicit CaptureScope(TestHost &host) : m_host(host), m_on(host.m_captureOn) {
        if (m_on) m_host.BeginCapture();
    }
    ~CaptureScope() {
        if (m_on) m_host.EndCapture();
    }
    CaptureScope(const CaptureScope &) = delete;
    CaptureScope &operator=(const CaptureScope &) = delete;

  private:
    TestHost &m_host;
    bool m_on;
};

TestHost::TestHost(std::string tesselName, std::string dispatch)
    : m_tesselName(std::move(tesselName)), m_dispatch(std::move(dispatch)) {
    std::lock_guard<std::mutex> lock(g_currentMutex);
    g_current = this;
}

TestHost::~TestHost() {
    if (m_initialized && m_loader.Loaded()) Terminate();
    Unload();
    std::lock_guard<std::mutex> lock(g_currentMutex);
    if (g_current == this) g_current = nullptr;
}

bool TestHost::Load(const std::string &path) {
    CaptureScope capture(*this);
    return m_loader.Load(path);
}

void TestHost::Unload() {
    if (!m_loader.Loaded()) return;
    CaptureScope capture(*this);
    m_loader.Unload();
    m_initialized = false;
}

int32_t TestHost::Call(const char *action, uintptr_t arg1, uintptr_t arg2, uintptr_t arg3,
                       uintptr_t arg4, uintptr_t arg5, uintptr_t arg6) {
    if (!m_loader.Loaded()) return -1;
    CaptureScope capture(*this);
    return m_loader.Call(m_version.c_str(), m_tesselName.c_str(), m_dispatch.c_str(), action, arg1,
                         arg2, arg3, arg4, arg5, arg6);
}

int32_t TestHost::Initialize(const char *configuration, const std::string &version) {
    m_version = version;
    const int32_t result = Call("initialize", reinterpret_cast<uintptr_t>(&HostCallback),
                                reinterpret_cast<uintptr_t>(configuration));
    m_initialized = true;
    return result;
}

InvokeResult TestHost::Invoke(const std::string &request, const InvokeOptions &options) {
    InvokeResult out;
    char *response = nullptr;
    uint32_t length = static_cast<uint32_t>(request.size());
    out.result = Call("invoke", reinterpret_cast<uintptr_t>(request.c_str()),
                      options.passResponseLocation ? reinterpret_cast<uintptr_t>(&response) : 0,
                      reinterpret_cast<uintptr_t>(options.optionalText),
                      reinterpret_cast<uintptr_t>(options.remoteAddress),
                      reinterpret_cast<uintptr_t>(options.requestData),
                      options.passLength ? reinterpret_cast<uintptr_t>(&length) : 0);
    out.length = length;
    if (response != nullptr) {
        out.gotResponse = true;
        out.response.assign(response);
        if (options.freeResponse) {
            out.freeResult = Free(response);
        } else {
            out.block = response;
        }
    }
    return out;
}

int32_t TestHost::Free(char *response) {
    return Call("free", reinterpret_cast<uintptr_t>(response));
}

int32_t TestHost::Terminate() {
    const int32_t result = Call("terminate");
    m_initialized = false;
    return result;
}

void TestHost::BeginCapture() {
    std::lock_guard<std::mutex> lock(m_captureMutex);
    if (m_captureDepth++ == 0) m_capture.Start();
}

void TestHost::EndCapture() {
    std::lock_guard<std::mutex> lock(m_captureMutex);
    if (--m_captureDepth != 0) return;
    std::string text = m_capture.Stop();
    std::lock_guard<std::mutex> logLock(m_logMutex);
    m_log += text;
}

std::string TestHost::Log() const {
    std::lock_guard<std::mutex> lock(m_logMutex);
    return m_log;
}

std::string TestHost::TakeLog() {
    std::lock_guard<std::mutex> lock(m_logMutex);
    std::string text;
    text.swap(m_log);
    return text;
}

void TestHost::ClearLog() {
    std::lock_guard<std::mutex> lock(m_logMutex);
    m_log.clear();
}

bool TestHost::LogContains(std::string_view text) const {
    std::lock_guard<std::mutex> lock(m_logMutex);
    return m_log.find(text) != std::string::npos;
}

std::vector<std::string> TestHost::Events() const {
    std::lock_guard<std::mutex> lock(m_callMutex);
    return m_events;
}

std::vector<CallTesselCall> TestHost::TesselCalls() const {
    std::lock_guard<std::mutex> lock(m_callMutex);
    return m_tesselCalls;
}

void TestHost::ClearCalls() {
    std::lock_guard<std::mutex> lock(m_callMutex);
    m_events.clear();
    m_tesselCalls.clear();
}

void TestHost::SetSendEventResult(int32_t result) {
    std::lock_guard<std::mutex> lock(m_callMutex);
    m_sendEventResult = result;
}

void TestHost::SetCallTesselAnswer(int32_t result, std::optional<std::string> response) {
    std::lock_guard<std::mutex> lock(m_callMutex);
    m_callTesselResult = result;
    m_callTesselResponse = std::move(response);
}

gwcbfunc TestHost::Callback() {
    return &HostCallback;
}

int32_t TestHost::OnSendEvent(const char *, const char *text) {
    std::lock_guard<std::mutex> lock(m_callMutex);
    m_events.push_back(Text(text));
    return m_sendEventResult;
}

int32_t TestHost::OnCallTessel(const char *tesselName, const char *host, const char *remote,
                               const char *request, char **response) {
    std::lock_guard<std::mutex> lock(m_callMutex);
    m_tesselCalls.push_back({Text(tesselName), Text(host), Text(remote), Text(request)});
    if (response != nullptr) {
        *response = nullptr;
        if (m_callTesselResponse) {
            const std::string &text = *m_callTesselResponse;
            char *block = static_cast<char *>(std::malloc(text.size() + 1));
            if (block != nullptr) {
                std::memcpy(block, text.c_str(), text.size() + 1);
                *response = block;
            }
        }
    }
    return m_callTesselResult;
}

int32_t HostCallback(const char *tesselName, const char *operation, ...) {
    TestHost *host = CurrentHost();
    if (host == nullptr || operation == nullptr) return 0;
    va_list args;
    va_start(args, operation);
    int32_t result = 0;
    if (std::strcmp(operation, "SendEvent") == 0) {
        const char *text = va_arg(args, const char *);
        result = host->OnSendEvent(tesselName, text);
    } else if (std::strcmp(operation, "CallTessel") == 0) {
        const char *hostName = va_arg(args, const char *);
        const char *remote = va_arg(args, const char *);
        const char *request = va_arg(args, const char *);
        char **response = va_arg(args, char **);
        result = host->OnCallTessel(tesselName, hostName, remote, request, response);
    }
    va_end(args);
    return result;
}

// ---- log helpers ------------------------------------------------------------------

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string_view StripPrefix(std::string_view line) {
    if (line.size() >= 20 && line.substr(7, 3) == "[0x" && line.substr(18, 2) == "] ")
        return line.substr(20);
    return line;
}

}  // namespace testhost
