// libFuzzer target: a whole invoke through Dorvex, as the gateway makes it.
// The first byte's low bit chooses raw mode (the plug-in is terminated and
// initialised again when it changes); the rest, up to any zero byte, is the
// request text. The host answers every event and every call to another
// plug-in (without a response); trace lines are formatted, then dropped.
//
// Besides sanitizer reports, a finding is: a result code the entry point does
// not give, a response missing where a result of 0 promises one, a stored
// length that is not the response's, or a "free" that fails.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/trace_log.h"
#include "dorvex.h"

namespace {

constexpr char kVersion[] = "V02.000.02";
constexpr char kName[] = "NorloTessel";
constexpr char kDispatch[] = "Dorvex";
constexpr char kPlainConfig[] =
    "<KorvaneConfig><Tessel><DebugLevel>TSL_TRACE</DebugLevel><Raw>false</Raw>"
    "<EventTime>10</EventTime></Tessel></KorvaneConfig>";
constexpr char kRawConfig[] =
    "<KorvaneConfig><Tessel><DebugLevel>TSL_TRACE</DebugLevel><Raw>true</Raw>"
    "<EventTime>10</EventTime></Tessel></KorvaneConfig>";

int g_raw = -1;  // the mode the plug-in was initialised in; -1: not yet

void Discard(void *, const char *, std::size_t) {}

int32_t Host(const char *, const char *operation, ...) {
    va_list args;
    va_start(args, operation);
    if (std::strcmp(operation, "CallTessel") == 0) {
        va_arg(args, const char *);
        va_arg(args, const char *);
        va_arg(args, const char *);
        if (char **response = va_arg(args, char **)) *response = nullptr;
    }
    va_end(args);
    return 1;
}

int32_t Call(const char *action, uintptr_t a1 = 0, uintptr_t a2 = 0, uintptr_t a4 = 0,
             uintptr_t a6 = 0) {
    return Dorvex(kVersion, kName, kDispatch, nullptr, action, a1, a2, 0, a4, 0, a6);
}

void Fail(const char *what, int32_t result) {
    std::fprintf(stderr, "invoke: %s (result %d)\n", what, result);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    unsetenv("NORLO_SERVER_STATE");  // the built-in sample server
    TslSetDebugSink(Discard, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const int raw = size > 0 ? data[0] & 1 : 0;
    if (raw != g_raw) {
        if (g_raw >= 0) Call("terminate");
        Call("initialize", reinterpret_cast<uintptr_t>(&Host),
             reinterpret_cast<uintptr_t>(raw ? kRawConfig : kPlainConfig));
        g_raw = raw;
    }
    std::string request;
    if (size > 0) request.assign(reinterpret_cast<const char *>(data) + 1, size - 1);
    request.resize(std::strlen(request.c_str()));

    char *response = nullptr;
    uint32_t length = static_cast<uint32_t>(request.size());
    const int32_t result =
        Call("invoke", reinterpret_cast<uintptr_t>(request.c_str()),
             reinterpret_cast<uintptr_t>(&response), reinterpret_cast<uintptr_t>("127.0.0.1"),
             reinterpret_cast<uintptr_t>(&length));
    if (result != 0 && result != 400 && result != 401 && result != 405)
        Fail("a result code outside the contract", result);
    if (response == nullptr) {
        if (result == 0) Fail("no response", result);
        return 0;
    }
    if (std::strlen(response) != length) Fail("a stored length that is not the response's", result);
    if (Call("free", reinterpret_cast<uintptr_t>(response)) != 0) Fail("free failed", result);
    return 0;
}
