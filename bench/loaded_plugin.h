// The plug-in built by this tree, loaded once per benchmark program and
// initialised with a host that accepts every event and answers nothing else.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "plugin_loader.h"

namespace bench_plugin {

inline constexpr char kVersion[] = "V02.000.02";
inline constexpr char kName[] = "NorloTessel";
inline constexpr char kDispatch[] = "Dorvex";

inline int32_t QuietHost(const char *, const char *operation, ...) {
    return std::strcmp(operation, "SendEvent") == 0 ? 1 : -1;
}

// Exits the program when the plug-in cannot be loaded.
inline PluginLoader &Plugin() {
    static PluginLoader *loader = [] {
        auto loaded = std::make_unique<PluginLoader>();
        if (!loaded->Load(NT_PLUGIN_PATH)) {
            std::fprintf(stdout, "cannot load plug-in: %s\n", loaded->Error().c_str());
            std::exit(1);
        }
        loaded->Call(kVersion, kName, kDispatch, "initialize",
                     reinterpret_cast<uintptr_t>(&QuietHost), reinterpret_cast<uintptr_t>(""));
        return loaded.release();  // kept for the process
    }();
    return *loader;
}

}  // namespace bench_plugin
