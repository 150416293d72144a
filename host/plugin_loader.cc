#include "plugin_loader.h"

#include <dlfcn.h>

bool PluginLoader::Load(const std::string &path) {
    Unload();
    m_handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m_handle == nullptr) {
        const char *why = dlerror();
        m_error = why != nullptr ? why : "dlopen failed";
        return false;
    }
    m_dorvex = reinterpret_cast<DorvexFn>(dlsym(m_handle, "Dorvex"));
    if (m_dorvex == nullptr) {
        m_error = path + ": no Dorvex symbol";
        dlclose(m_handle);
        m_handle = nullptr;
        return false;
    }
    return true;
}

void PluginLoader::Unload() {
    if (m_handle != nullptr) dlclose(m_handle);
    m_handle = nullptr;
    m_dorvex = nullptr;
}
