#include "entry/application_hook.h"

#include <cstring>
#include <memory>
#include <utility>

#include "app/norlo_tessel.h"
#include "entry/tessel.h"
#include "result/tsl_data.h"

namespace {
// Plain pointer: see entry/instance_slot.h for why process-wide slots stay
// trivially destructible.
NorloTessel *g_application = nullptr;

std::unique_ptr<NorloTessel> TakeApplication() {
    return std::unique_ptr<NorloTessel>(std::exchange(g_application, nullptr));
}
}  // namespace

int32_t TesselApplicationHook(const char *hookName, void *object) {
    if (hookName == nullptr || object == nullptr) return -1;
    if (std::strcmp(hookName, "Run") == 0) {
        if (g_application == nullptr) return -1;
        return g_application->Run(*static_cast<tslData *>(object));
    }
    if (std::strcmp(hookName, "Initialize") == 0) {
        auto application = std::make_unique<NorloTessel>(*static_cast<Tessel *>(object));
        TakeApplication();
        g_application = application.release();
        return -1;
    }
    if (std::strcmp(hookName, "Terminate") == 0) {
        TakeApplication();
        return -1;
    }
    return -1;
}
