// What only the real shared library shows: its exports and its load and
// unload hooks. Its trace log is its own, so standard error is read here.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "host/plugin_loader.h"
#include "support/harness.h"

namespace {

std::string Stderr(const std::function<void()> &body) {
    std::fflush(stderr);
    std::FILE *capture = std::tmpfile();
    const int saved = dup(2);
    dup2(fileno(capture), 2);
    body();
    dup2(saved, 2);
    close(saved);
    std::rewind(capture);
    std::string text;
    for (int c; (c = std::fgetc(capture)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(capture);
    return text;
}

TEST(Library, ExportsOnlyDorvex) {
    std::FILE *pipe =
        popen(("nm -D --defined-only '" + std::string(NT_PLUGIN_PATH) + "'").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string names;
    char type = 0;
    for (char name[512]; std::fscanf(pipe, "%*s %c %511s", &type, name) == 2;)
        names += std::string(name) + " ";
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(names, "Dorvex ");
}

TEST(Library, LoadAndUnloadHooks) {
    const nt::TempCwd dir;
    const std::string logFile = dir.Path("NtLib.log");
    PluginLoader plugin;
    std::string log = Stderr([&] { ASSERT_TRUE(plugin.Load(NT_PLUGIN_PATH)) << plugin.Error(); });
    Dl_info info{};
    void *handle = dlopen(NT_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(dladdr(dlsym(handle, "Dorvex"), &info), 0);
    dlclose(handle);
    char module[16];
    std::snprintf(module, sizeof module, "0x%08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(info.dli_fbase) & 0xFFFFFFFFu));
    EXPECT_EQ(nt::Normalised(log),
              "TRACE: [tid] Tessel DllMain: attached, hModule " + std::string(module) + "\n");

    // Unloading destroys the live object, which closes its log file last.
    const char *config =
        "<KorvaneConfig><Tessel><DebugLevel>TSL_FILE</DebugLevel></Tessel></KorvaneConfig>";
    Stderr([&] {
        EXPECT_EQ(plugin.Call(nt::kVersion, "NtLib", "Dorvex", "initialize", 0,
                              reinterpret_cast<uintptr_t>(config)),
                  0);
        EXPECT_EQ(nt::OpenCount(logFile), 1);
        plugin.Unload();
    });
    EXPECT_EQ(nt::OpenCount(logFile), 0);
    const std::string detached =
        "TRACE: [tid] Tessel DllMain: detached, hModule " + std::string(module) + "\n";
    log = nt::Normalised(nt::ReadFile(logFile));
    EXPECT_TRUE(log.ends_with(detached)) << log;
    EXPECT_EQ(dlopen(NT_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "dlclose must unload it";

    // A fresh load starts with an empty slot.
    Stderr([&] {
        ASSERT_TRUE(plugin.Load(NT_PLUGIN_PATH));
        char *response = nullptr;
        EXPECT_EQ(plugin.Call(nt::kVersion, "NtLib", "Dorvex", "invoke",
                              reinterpret_cast<uintptr_t>("<x/>"),
                              reinterpret_cast<uintptr_t>(&response)),
                  400);
        plugin.Unload();
    });
}

}  // namespace
