// Library load and unload hooks.
#include <dlfcn.h>

#include <cstdint>

#include "base/trace_log.h"
#include "entry/instance_slot.h"

namespace {

unsigned ModuleHandle() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&ModuleHandle), &info) == 0) return 0;
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(info.dli_fbase) & 0xFFFFFFFFu);
}

__attribute__((constructor)) void OnLibraryLoad() {
    // The slot of a freshly mapped image starts empty (static initialisation).
    TslLog(TSL_TRACE, "Tessel DllMain: attached, hModule 0x%08x\n", ModuleHandle());
}

__attribute__((destructor)) void OnLibraryUnload() {
    TslLog(TSL_TRACE, "Tessel DllMain: detached, hModule 0x%08x\n", ModuleHandle());
    try {
        instance_slot::Take();
    } catch (...) {
    }
    TslShutdown();
}

}  // namespace
