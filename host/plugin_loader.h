// PluginLoader: loads libNorloTessel.so with dlopen and calls its Dorvex.
// Used by the gateway host and by the tests.
#pragma once

#include <cstdint>
#include <string>

#include "dorvex.h"

using DorvexFn = decltype(&Dorvex);

class PluginLoader {
  public:
    PluginLoader() = default;
    ~PluginLoader() { Unload(); }
    PluginLoader(const PluginLoader &) = delete;
    PluginLoader &operator=(const PluginLoader &) = delete;

    // Loads the library and resolves Dorvex; false with `Error()` set on failure.
    bool Load(const std::string &path);
    // dlclose; the library's unload hook destroys a live plug-in object.
    void Unload();
    bool Loaded() const { return m_dorvex != nullptr; }
    const std::string &Error() const { return m_error; }

    int32_t Call(const char *version, const char *tesselName, const char *dispatchName,
                 const char *action, uintptr_t arg1 = 0, uintptr_t arg2 = 0, uintptr_t arg3 = 0,
                 uintptr_t arg4 = 0, uintptr_t arg5 = 0, uintptr_t arg6 = 0) const {
        return m_dorvex(version, tesselName, dispatchName, nullptr, action, arg1, arg2, arg3, arg4,
                        arg5, arg6);
    }

  private:
    void *m_handle = nullptr;
    DorvexFn m_dorvex = nullptr;
    std::string m_error;
};
