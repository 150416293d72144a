// A small gateway host for the tests: loads the plug-in with dlopen, drives it
// through Dorvex, answers the plug-in's host callback and captures what the
// plug-in writes to its debugger channel (standard error).
//
// The host callback is a plain function without a context word, so one TestHost
// at a time is the "current" host that receives callbacks (the last one made).
//
// Threads: Invoke may be called from several threads at once. The recorded
// events and CallTessel calls are kept under a mutex. Log capture redirects the
// process-wide fd 2; overlapping calls share one capture session, which ends
// (and is appended to the log) when the last of them returns.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/plugin_loader.h"

namespace testhost {

inline constexpr const char *kDefaultVersion = "V02.000.02";

// The plug-in built by this tree.
std::string PluginPath();

// Decodes %XX sequences (any case of hex digits); anything else is copied.
std::string UrlDecode(std::string_view text);

// Redirects fd 2 into a temporary file from Start to Stop. Not reentrant and
// not thread-safe by itself; TestHost shares one between overlapping calls.
class StderrCapture {
  public:
    StderrCapture() = default;
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    bool Start();
    // Restores fd 2 and returns what was written meanwhile.
    std::string Stop();
    bool Active() const { return m_savedFd >= 0; }

  private:
    int m_savedFd = -1;
    int m_fileFd = -1;
};

struct InvokeOptions {
    const char *optionalText = nullptr;   // arg3
    const char *remoteAddress = nullptr;  // arg4
    void *requestData = nullptr;          // arg5
    bool passLength = true;               // arg6 given (holding the request length)
    bool passResponseLocation = true;     // arg2 given
    bool freeResponse = true;             // hand the response back with "free"
};

struct InvokeResult {
    int32_t result = 0;
    bool gotResponse = false;  // a non-null response pointer was stored
    std::string response;      // the bytes up to the reported length (or the zero)
    uint32_t length = 0;       // arg6 on return
    int32_t freeResult = -1;   // what "free" answered (-1: not called)
    char *block = nullptr;     // the response block when freeResponse is false
};

struct CallTesselCall {
    std::string tesselName;  // first callback argument
    std::string host;
    std::string remoteTessel;
    std::string request;  // as handed over: URL-encoded
};

class TestHost {
  public:
    explicit TestHost(std::string tesselName = "TestTessel", std::string dispatch = "Dorvex");
    // Terminates a live plug-in object and unloads the library.
    ~TestHost();
    TestHost(const TestHost &) = delete;
    TestHost &operator=(const TestHost &) = delete;

    // dlopen/dlclose, with the log captured (the load/unload hooks log).
    bool Load(const std::string &path = PluginPath());
    void Unload();
    const std::string &LoadError() const { return m_loader.Error(); }

    // "initialize" with this host's callback. A null configuration passes a null
    // pointer. The version is kept for the following calls.
    int32_t Initialize(const char *configuration, const std::string &version = kDefaultVersion);
    int32_t Initialize(const std::string &configuration,
                       const std::string &version = kDefaultVersion) {
        return Initialize(configuration.c_str(), version);
    }
    InvokeResult Invoke(const std::string &request, const InvokeOptions &options = {});
    int32_t Free(char *response);
    int32_t Terminate();
    // Any action with raw argument words, using this host's names and version.
    int32_t Call(const char *action, uintptr_t arg1 = 0, uintptr_t arg2 = 0, uintptr_t arg3 = 0,
                 uintptr_t arg4 = 0, uintptr_t arg5 = 0, uintptr_t arg6 = 0);

    void SetVersion(std::string version) { m_version = std::move(version); }
    const std::string &Version() const { return m_version; }
    const std::string &TesselName() const { return m_tesselName; }
    const std::string &DispatchName() const { return m_dispatch; }

    // ---- the debugger channel ------------------------------------------------
    void SetCaptureLog(bool on) { m_captureOn = on; }
    std::string Log() const;
    // The log so far, which is then emptied.
    std::string TakeLog();
    void ClearLog();
    // Whether `text` appears in the captured log.
    bool LogContains(std::string_view text) const;

    // ---- the host callback ---------------------------------------------------
    // URL-encoded texts of "SendEvent", in order of arrival.
    std::vector<std::string> Events() const;
    std::vector<CallTesselCall> TesselCalls() const;
    void ClearCalls();
    // What "SendEvent" answers (default 1: delivered).
    void SetSendEventResult(int32_t result);
    // What "CallTessel" answers: its result and, when set, a response text
    // (malloc'ed here, freed by the plug-in). Default: 1 and no response.
    void SetCallTesselAnswer(int32_t result, std::optional<std::string> response);
    // The callback as the plug-in sees it.
    static gwcbfunc Callback();

  private:
    friend int32_t HostCallback(const char *, const char *, ...);
    class CaptureScope;

    int32_t OnSendEvent(const char *tesselName, const char *text);
    int32_t OnCallTessel(const char *tesselName, const char *host, const char *remote,
                         const char *request, char **response);

    void BeginCapture();
    void EndCapture();

    std::string m_tesselName;
    std::string m_dispatch;
    std::string m_version = kDefaultVersion;
    PluginLoader m_loader;
    bool m_initialized = false;

    bool m_captureOn = true;
    std::mutex m_captureMutex;  // guards the capture session and depth
    int m_captureDepth = 0;
    StderrCapture m_capture;
    mutable std::mutex m_logMutex;
    std::string m_log;

    mutable std::mutex m_callMutex;
    std::vector<std::string> m_events;
    std::vector<CallTesselCall> m_tesselCalls;
    int32_t m_sendEventResult = 1;
    int32_t m_callTesselResult = 1;
    std::optional<std::string> m_callTesselResponse;
};

// Splits a captured log into its lines (each without its line feed).
std::vector<std::string> SplitLines(std::string_view text);

// Removes the 20-character prefix ("TRACE: [0x........] ") of a log line, or
// returns the line unchanged when it has none.
std::string_view StripPrefix(std::string_view line);

}  // namespace testhost
