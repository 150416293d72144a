// clang-format off
/*
 * NorloTessel: the one entry point the Korvane gateway calls.
 *
 * ABI contract
 * ------------
 * - Every call returns an int32_t result code: 0 success ("initialize",
 *   "terminate", "free"); "invoke" returns the application's result (0 on
 *   success) or 400 (failure), 401 (untrusted caller), 405 (bad credentials or
 *   signature). Every other path answers 400. No C++ exception ever leaves
 *   Dorvex.
 * - The action word is compared ignoring case: "initialize", "terminate",
 *   "invoke", "free", "SetKey", "AuthCheck". Argument words are pointer-wide.
 *
 *   action      arg1                arg2             arg3          arg4              arg5        arg6
 *   initialize  gwcbfunc            const char *cfg  -             -                 -           -
 *   invoke      const char *request char **response  const char *  const char *addr  void *data  uint32_t *len
 *   free        char *response      -                -             -                 -           -
 *   SetKey      key (low 32 bits)   -                -             -                 -           -
 *   AuthCheck   five words forwarded to the authorisation hook
 *
 * - Ownership: the response stored through arg2 of "invoke" is a malloc'ed,
 *   zero-terminated block owned by the host until it hands it back with
 *   "free". When arg6 is given it holds the request length on entry and the
 *   response length (without the terminator) on return.
 * - Null pointers: "invoke" with a null request or response location answers
 *   400; "free" of a null pointer answers 400. arg3 to arg6 may be null.
 * - Versions: a version beginning with "V01" ignores arg1/arg2 of "initialize"
 *   and arg4..arg6 of "invoke"; "V02.000.01" ignores arg5/arg6 of "invoke".
 * - Threads: "invoke" and "free" may run concurrently from any number of host
 *   threads. "initialize" and "terminate" must not overlap any other call.
 * - The host callback may be called from any invoking thread, and "SendEvent"
 *   calls are serialised by the plug-in.
 */
// clang-format on
#ifndef NORLOTESSEL_DORVEX_H
#define NORLOTESSEL_DORVEX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Host services. Operations:
 *   "SendEvent"  (const char *urlEncodedEventRequest)  -> non-zero: delivered
 *   "CallTessel" (const char *host, const char *tesselName,
 *                 const char *urlEncodedRequest, char **response) -> 0: success;
 *                the response is malloc'ed by the host and freed by the plug-in. */
typedef int32_t (*gwcbfunc)(const char *tesselName, const char *operation, ...);

#if defined(__GNUC__)
#define NORLOTESSEL_EXPORT __attribute__((visibility("default")))
#else
#define NORLOTESSEL_EXPORT
#endif

NORLOTESSEL_EXPORT int32_t Dorvex(const char *version, const char *tesselName,
                                  const char *dispatchName, void *jvm, const char *action,
                                  uintptr_t arg1, uintptr_t arg2, uintptr_t arg3, uintptr_t arg4,
                                  uintptr_t arg5, uintptr_t arg6);

#ifdef __cplusplus
}
#endif

#endif /* NORLOTESSEL_DORVEX_H */
