// The exported entry point: translates the host's action words into calls on
// the one Tessel object. No exception leaves this file.
#include "dorvex.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <exception>

#include "base/trace_log.h"
#include "entry/application_hook.h"
#include "entry/instance_slot.h"
#include "entry/tessel.h"

namespace {

const char *Safe(const char *text) {
    return text != nullptr ? text : "";
}

bool IsFirstGeneration(const char *version) {
    return version != nullptr && std::strncmp(version, "V01", 3) == 0;
}

int32_t Initialize(const char *version, const char *tesselName, const char *dispatchName, void *jvm,
                   uintptr_t arg1, uintptr_t arg2) {
    TslLog(TSL_TRACE, "TesselEntry: INITIALIZE tessel [%s] dispatch [%s] jvm 0x%x\n",
           Safe(tesselName), Safe(dispatchName),
           static_cast<unsigned>(reinterpret_cast<uintptr_t>(jvm)));
    gwcbfunc callback = nullptr;
    const char *configuration = nullptr;
    if (!IsFirstGeneration(version)) {
        callback = reinterpret_cast<gwcbfunc>(arg1);
        configuration = reinterpret_cast<const char *>(arg2);
        TslLog(TSL_TRACE, "TesselEntry: setting gwcbfunc to 0x%x\n", static_cast<unsigned>(arg1));
    }
    try {
        // The earlier object goes first: its destructor closes the log file and
        // ends the application, which the new object then opens and starts anew.
        instance_slot::Take();
        auto tessel = std::make_unique<Tessel>(version, Safe(tesselName), Safe(dispatchName), jvm,
                                               callback, configuration);
        if (instance_slot::PendingKey() != 0) tessel->SetKey(instance_slot::PendingKey());
        Tessel *object = tessel.get();
        instance_slot::Put(std::move(tessel));
        TesselApplicationHook("Initialize", object);
    } catch (...) {
        TslLog(TSL_ERROR, "Dorvex: exception initializing tessel\n");
    }
    return 0;
}

int32_t Terminate(const char *tesselName, const char *dispatchName) {
    TslLog(TSL_TRACE, "TesselEntry: TERMINATE tessel [%s] dispatch [%s]\n", Safe(tesselName),
           Safe(dispatchName));
    try {
        instance_slot::Take();
    } catch (...) {
        TslLog(TSL_ERROR, "Dorvex: terminate exception deleting tessel\n");
    }
    return 0;
}

int32_t Invoke(const char *version, const char *tesselName, const char *dispatchName, void *jvm,
               uintptr_t arg1, uintptr_t arg2, uintptr_t arg3, uintptr_t arg4, uintptr_t arg5,
               uintptr_t arg6) {
    if (IsFirstGeneration(version)) {
        arg4 = arg5 = arg6 = 0;
    } else if (version != nullptr && std::strcmp(version, "V02.000.01") == 0) {
        arg5 = arg6 = 0;
    }
    Tessel *tessel = instance_slot::Get();
    const char *request = reinterpret_cast<const char *>(arg1);
    char **response = reinterpret_cast<char **>(arg2);
    if (tessel == nullptr || request == nullptr || response == nullptr) {
        TslLog(TSL_WARNING, "TesselEntry: INVOKE: no object/pointer tessel %s dispatch %s\n",
               Safe(tesselName), Safe(dispatchName));
        return 400;
    }
    try {
        return tessel->Invoke(version, tesselName, dispatchName, jvm, request, response,
                              reinterpret_cast<const char *>(arg3),
                              reinterpret_cast<const char *>(arg4), reinterpret_cast<void *>(arg5),
                              reinterpret_cast<uint32_t *>(arg6));
    } catch (...) {
        TslLog(TSL_ERROR, "Dorvex: exception invoking tessel %s dispatch %s\n", Safe(tesselName),
               Safe(dispatchName));
        return 400;
    }
}

int32_t Free(uintptr_t arg1) {
    if (instance_slot::Get() == nullptr || arg1 == 0) {
        TslLog(TSL_ERROR, "TesselEntry: FREE: no object\n");
        return 400;
    }
    std::free(reinterpret_cast<void *>(arg1));
    return 0;
}

}  // namespace

extern "C" NORLOTESSEL_EXPORT int32_t Dorvex(const char *version, const char *tesselName,
                                             const char *dispatchName, void *jvm,
                                             const char *action, uintptr_t arg1, uintptr_t arg2,
                                             uintptr_t arg3, uintptr_t arg4, uintptr_t arg5,
                                             uintptr_t arg6) {
    // The trace lines of the call are written together when it returns.
    TslBatch batch;
    try {
        const char *word = Safe(action);
        if (strcasecmp(word, "initialize") == 0)
            return Initialize(version, tesselName, dispatchName, jvm, arg1, arg2);
        if (strcasecmp(word, "terminate") == 0) return Terminate(tesselName, dispatchName);
        if (strcasecmp(word, "invoke") == 0)
            return Invoke(version, tesselName, dispatchName, jvm, arg1, arg2, arg3, arg4, arg5,
                          arg6);
        if (strcasecmp(word, "free") == 0) return Free(arg1);
        if (strcasecmp(word, "SetKey") == 0) {
            const uint32_t key = static_cast<uint32_t>(arg1);
            if (Tessel *tessel = instance_slot::Get()) {
                tessel->SetKey(key);
            } else {
                instance_slot::SetPendingKey(key);
            }
            return 400;
        }
        if (strcasecmp(word, "AuthCheck") == 0) {
            Tessel *tessel = instance_slot::Get();
            return tessel != nullptr ? tessel->AuthCheck(arg1, arg2, arg3, arg4, arg5) : 400;
        }
        TslLog(TSL_WARNING, "TesselEntry: unknown action [%s]\n", word);
        return 400;
    } catch (...) {
        return 400;
    }
}
