// The trace log as the host sees it through the shared library: load and
// unload hooks, line format, the log file, and the library's exported symbols.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "entry_helpers.h"
#include "support/test_host.h"

namespace {

using entrytest::Exists;
using entrytest::InCwd;
using entrytest::OpenCount;
using entrytest::Prefix;
using entrytest::ReadFile;
using entrytest::ScopedFile;
using entrytest::SplitMessages;
using entrytest::UniqueName;
using testhost::TestHost;

const char *const kSelectSample =
    "<tesselrequest version=\"1\"><select><from><db name=\"Sample Age\"/></from>"
    "<where><predicat><target name=\"Name\"/><compare oper=\"LIKE\"><atom value=\"D*\"/>"
    "</compare></predicat></where></select></tesselrequest>";

// The load address of the loaded plug-in, low 32 bits, as the hooks print it.
std::string ModuleHandleText() {
    void *handle = dlopen(testhost::PluginPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return "not loaded";
    Dl_info info{};
    void *symbol = dlsym(handle, "Dorvex");
    const int found = symbol != nullptr ? dladdr(symbol, &info) : 0;
    dlclose(handle);
    if (found == 0) return "no symbol";
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(info.dli_fbase) & 0xFFFFFFFFu));
    return text;
}

TEST(DorvexLog, LoadAndUnloadHooksLog) {
    auto host = std::make_unique<TestHost>(UniqueName("NtHook"));
    ASSERT_TRUE(host->Load()) << host->LoadError();
    const std::string module = ModuleHandleText();
    EXPECT_EQ(host->TakeLog(),
              Prefix("TRACE: ") + "Tessel DllMain: attached, hModule " + module + "\n");
    ASSERT_EQ(host->Initialize(nullptr), 0);
    ASSERT_EQ(host->Terminate(), 0);
    host->ClearLog();
    host->Unload();
    EXPECT_EQ(host->TakeLog(),
              Prefix("TRACE: ") + "Tessel DllMain: detached, hModule " + module + "\n");
    EXPECT_EQ(ModuleHandleText(), "not loaded") << "dlclose must really unload the library";

    // A fresh load starts anew: empty slot, level 3.
    ASSERT_TRUE(host->Load());
    EXPECT_EQ(host->TakeLog().find("Tessel DllMain: attached"), 20u);
    EXPECT_EQ(host->Invoke(kSelectSample).result, 400);
}

TEST(DorvexLog, PrefixAndMessageCut) {
    TestHost host(UniqueName("NtCut"));
    ASSERT_TRUE(host.Load());
    host.ClearLog();
    // The unknown-action line carries the caller's text: a long one is cut.
    const std::string word(9000, 'w');
    EXPECT_EQ(host.Call(word.c_str()), 400);
    const std::string message = "TesselEntry: unknown action [" + word + "]\n";
    const std::string log = host.TakeLog();
    EXPECT_EQ(log, Prefix("WARN:  ") + message.substr(0, 8171));
    EXPECT_EQ(log.size(), 20u + 8171u);
    EXPECT_EQ(log.back(), 'w') << "the cut drops the line end";
}

TEST(DorvexLog, TwoThreadsLoggingGiveWholeLines) {
    TestHost host(UniqueName("NtThr"));
    ASSERT_TRUE(host.Load());
    host.ClearLog();
    constexpr int kCalls = 400;
    auto caller = [&](char letter) {
        const std::string word(300, letter);
        for (int i = 0; i < kCalls; ++i) host.Call((word + std::to_string(i)).c_str());
    };
    std::thread a(caller, 'a');
    std::thread b(caller, 'b');
    a.join();
    b.join();
    const std::regex line(
        R"(WARN:  \[0x[0-9a-f]{8}\] TesselEntry: unknown action \[([ab])\1{299}(\d+)\])");
    int counts[2] = {0, 0};
    for (const std::string &text : testhost::SplitLines(host.TakeLog())) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(text, m, line)) << text.substr(0, 120);
        ++counts[m[1].str() == "a" ? 0 : 1];
    }
    EXPECT_EQ(counts[0], kCalls);
    EXPECT_EQ(counts[1], kCalls);
}

TEST(DorvexLog, FileModeLinesMirrorTheDebuggerChannel) {
    TestHost host(UniqueName("NtFile"));
    ScopedFile log(InCwd(host.TesselName() + ".log"));
    ASSERT_TRUE(host.Load());
    host.ClearLog();
    const std::string config =
        "<KorvaneConfig><Tessel><DebugLevel>TSL_FILE</DebugLevel></Tessel></KorvaneConfig>";
    ASSERT_EQ(host.Initialize(config), 0);
    ASSERT_TRUE(Exists(log.Path()));
    EXPECT_EQ(host.Invoke(kSelectSample).result, 0);
    EXPECT_EQ(host.Call("nonsense"), 400);
    ASSERT_EQ(host.Terminate(), 0);
    EXPECT_EQ(OpenCount(log.Path()), 0);
    const std::string file = ReadFile(log.Path());
    const std::string channel = host.TakeLog();

    // Every file message is "mm/dd/yy hh:mm:ss: " followed by exactly what the
    // debugger channel got; the file holds the channel's messages from the
    // moment it was opened until terminate.
    const std::vector<std::string> fileMessages = SplitMessages(file, true);
    const std::vector<std::string> channelMessages = SplitMessages(channel);
    ASSERT_GE(fileMessages.size(), 3u) << file;
    ASSERT_GE(channelMessages.size(), fileMessages.size());
    const std::size_t offset = channelMessages.size() - fileMessages.size();
    const std::regex stamp(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d: )");
    for (std::size_t i = 0; i < fileMessages.size(); ++i) {
        const std::string &m = fileMessages[i];
        ASSERT_TRUE(
            std::regex_search(m.substr(0, 19), stamp, std::regex_constants::match_continuous))
            << m;
        EXPECT_EQ(m.substr(19), channelMessages[offset + i]);
    }
    EXPECT_NE(file.find("TesselEntry: unknown action [nonsense]\n"), std::string::npos);
    EXPECT_NE(file.find("TesselEntry: TERMINATE tessel ["), std::string::npos);
    // The messages before the file opened are on the channel only.
    EXPECT_NE(channel.find("TesselEntry: INITIALIZE tessel ["), std::string::npos);
    EXPECT_EQ(file.find("TesselEntry: INITIALIZE tessel ["), std::string::npos);

    // Unloading logs to the channel only: the file was closed by terminate.
    host.Unload();
    EXPECT_EQ(ReadFile(log.Path()), file);
    EXPECT_TRUE(host.LogContains("Tessel DllMain: detached"));
}

TEST(DorvexLog, OnlyDorvexIsExported) {
    const std::string command = "nm -D --defined-only '" + testhost::PluginPath() + "' 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0) << output;
    std::set<std::string> names;
    for (const std::string &line : testhost::SplitLines(output)) {
        const std::size_t space = line.rfind(' ');
        if (space != std::string::npos) names.insert(line.substr(space + 1));
    }
    EXPECT_EQ(names, std::set<std::string>{"Dorvex"}) << output;
}

}  // namespace
