// The action protocol, driven through Dorvex of the built shared library.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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
using entrytest::ScopedFile;
using entrytest::UniqueName;
using testhost::InvokeOptions;
using testhost::TestHost;

const char *const kDescribe =
    "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
    "<tesselrequest version=\"1\"><admin action=\"describe\"/></tesselrequest>"
    "</soap:Body></soap:Envelope>";

const char *const kSelectSample =
    "<tesselrequest version=\"1\" transactionid=\"tx-9\"><select><output><all/></output>"
    "<from><db name=\"Sample Age\"/></from></select></tesselrequest>";

std::string Config(const std::string &entries) {
    return "<KorvaneConfig><Tessel>" + entries + "</Tessel></KorvaneConfig>";
}

class Dorvex : public ::testing::Test {
  protected:
    void SetUp() override {
        m_host = std::make_unique<TestHost>(UniqueName("NtDvx"));
        ASSERT_TRUE(m_host->Load()) << m_host->LoadError();
        m_host->ClearLog();
    }
    void TearDown() override { m_host.reset(); }

    std::string Line(const char *tag, const std::string &message) { return Prefix(tag) + message; }

    std::unique_ptr<TestHost> m_host;
};

TEST_F(Dorvex, ActionWordsIgnoreCase) {
    const std::string name = m_host->TesselName();
    EXPECT_EQ(m_host->Call("INITIALIZE", reinterpret_cast<uintptr_t>(TestHost::Callback()), 0), 0);
    EXPECT_TRUE(m_host->LogContains(Line(
        "TRACE: ", "TesselEntry: INITIALIZE tessel [" + name + "] dispatch [Dorvex] jvm 0x0\n")));
    EXPECT_TRUE(m_host->LogContains("TesselEntry: setting gwcbfunc to 0x"));

    for (const char *word : {"invoke", "INVOKE", "Invoke", "iNvOkE"}) {
        char *response = nullptr;
        const int32_t result = m_host->Call(word, reinterpret_cast<uintptr_t>(kDescribe),
                                            reinterpret_cast<uintptr_t>(&response));
        EXPECT_EQ(result, 0) << word;
        ASSERT_NE(response, nullptr) << word;
        EXPECT_NE(std::strstr(response, "<RESPONSE"), nullptr) << response;
        const char *freeWord = word[0] == 'i' ? "free" : "FREE";
        EXPECT_EQ(m_host->Call(freeWord, reinterpret_cast<uintptr_t>(response)), 0);
    }
    EXPECT_EQ(m_host->Call("setkey", 5), 400);
    EXPECT_EQ(m_host->Call("SETKEY", 6), 400);
    EXPECT_EQ(m_host->Call("authcheck", 1, 2, 3, 4, 5), 400);
    EXPECT_EQ(m_host->Call("Terminate"), 0);
    EXPECT_TRUE(m_host->LogContains(
        Line("TRACE: ", "TesselEntry: TERMINATE tessel [" + name + "] dispatch [Dorvex]\n")));
    EXPECT_FALSE(m_host->LogContains("unknown action"));
}

TEST_F(Dorvex, InvokeWithoutObjectOrPointers) {
    const std::string noObject = Line("WARN:  ", "TesselEntry: INVOKE: no object/pointer tessel " +
                                                     m_host->TesselName() + " dispatch Dorvex\n");
    auto before = m_host->Invoke(kDescribe);
    EXPECT_EQ(before.result, 400);
    EXPECT_FALSE(before.gotResponse);
    EXPECT_EQ(m_host->TakeLog(), noObject);

    ASSERT_EQ(m_host->Initialize(nullptr), 0);
    m_host->ClearLog();
    char *response = reinterpret_cast<char *>(0x1);  // must stay untouched
    EXPECT_EQ(m_host->Call("invoke", 0, reinterpret_cast<uintptr_t>(&response)), 400);
    EXPECT_EQ(response, reinterpret_cast<char *>(0x1));
    EXPECT_EQ(m_host->TakeLog(), noObject);

    InvokeOptions noLocation;
    noLocation.passResponseLocation = false;
    EXPECT_EQ(m_host->Invoke(kDescribe, noLocation).result, 400);
    EXPECT_EQ(m_host->TakeLog(), noObject);

    // After terminate the slot is empty again.
    EXPECT_EQ(m_host->Terminate(), 0);
    m_host->ClearLog();
    EXPECT_EQ(m_host->Invoke(kDescribe).result, 400);
    EXPECT_EQ(m_host->TakeLog(), noObject);
}

TEST_F(Dorvex, FreeNeedsObjectAndPointer) {
    const std::string noObject = Line("ERROR: ", "TesselEntry: FREE: no object\n");
    EXPECT_EQ(m_host->Call("free", 0), 400);
    EXPECT_EQ(m_host->TakeLog(), noObject);
    // Without an object a real block is not released (the host keeps it).
    char *block = static_cast<char *>(std::malloc(16));
    EXPECT_EQ(m_host->Free(block), 400);
    EXPECT_EQ(m_host->TakeLog(), noObject);
    std::free(block);

    ASSERT_EQ(m_host->Initialize(nullptr), 0);
    m_host->ClearLog();
    EXPECT_EQ(m_host->Call("free", 0), 400);
    EXPECT_EQ(m_host->TakeLog(), noObject);
    auto invoked = m_host->Invoke(kDescribe);
    EXPECT_EQ(invoked.result, 0);
    EXPECT_EQ(invoked.freeResult, 0);
}

TEST_F(Dorvex, SetKeyAndAuthCheckAlwaysAnswer400) {
    EXPECT_EQ(m_host->Call("SetKey", 0x12345678), 400);
    EXPECT_EQ(m_host->Call("AuthCheck", 1, 2, 3, 4, 5), 400);
    ASSERT_EQ(m_host->Initialize(nullptr), 0);  // applies the pending key
    EXPECT_EQ(m_host->Call("SetKey", 0x9ABCDEF0), 400);
    EXPECT_EQ(m_host->Call("AuthCheck", 1, 2, 3, 4, 5), 400);
    EXPECT_EQ(m_host->Terminate(), 0);
    EXPECT_EQ(m_host->Call("SetKey", 7), 400);
    ASSERT_EQ(m_host->Initialize(nullptr), 0);
    EXPECT_EQ(m_host->Invoke(kDescribe).result, 0);
    EXPECT_FALSE(m_host->LogContains("exception"));
}

TEST_F(Dorvex, UnknownActionsAreLogged) {
    EXPECT_EQ(m_host->Call("bogus"), 400);
    EXPECT_EQ(m_host->TakeLog(), Line("WARN:  ", "TesselEntry: unknown action [bogus]\n"));
    EXPECT_EQ(m_host->Call("initialise"), 400);
    EXPECT_EQ(m_host->Call("invoke "), 400);
    EXPECT_EQ(m_host->Call(""), 400);
    EXPECT_EQ(m_host->Call(nullptr), 400);
    EXPECT_EQ(m_host->TakeLog(), Line("WARN:  ", "TesselEntry: unknown action [initialise]\n") +
                                     Line("WARN:  ", "TesselEntry: unknown action [invoke ]\n") +
                                     Line("WARN:  ", "TesselEntry: unknown action []\n") +
                                     Line("WARN:  ", "TesselEntry: unknown action []\n"));
}

TEST_F(Dorvex, TerminateTwiceAnswersZero) {
    EXPECT_EQ(m_host->Terminate(), 0);  // nothing to terminate yet
    ASSERT_EQ(m_host->Initialize(nullptr), 0);
    EXPECT_EQ(m_host->Terminate(), 0);
    EXPECT_EQ(m_host->Terminate(), 0);
    EXPECT_FALSE(m_host->LogContains("exception"));
}

TEST_F(Dorvex, FirstGenerationHostGetsNoCallbackAndNoConfiguration) {
    ScopedFile log(InCwd(m_host->TesselName() + ".log"));
    const std::string config = Config("<DebugLevel>TSL_FILE</DebugLevel>");
    ASSERT_EQ(m_host->Initialize(config, "V01.999"), 0);
    EXPECT_FALSE(Exists(log.Path())) << "the configuration must be ignored";
    EXPECT_FALSE(m_host->LogContains("setting gwcbfunc"));
    EXPECT_FALSE(m_host->LogContains("configpair"));

    // arg4..arg6 are ignored: the length is not written back, and no event goes
    // out because there is no callback.
    InvokeOptions options;
    options.remoteAddress = "10.1.2.3";
    auto result = m_host->Invoke(kSelectSample, options);
    EXPECT_EQ(result.result, 0);
    ASSERT_TRUE(result.gotResponse);
    EXPECT_EQ(result.length, std::strlen(kSelectSample));
    EXPECT_TRUE(m_host->Events().empty());
}

TEST_F(Dorvex, VersionGatesOfInvoke) {
    // V02.000.01: arg4 used, arg5/arg6 ignored (length untouched).
    ASSERT_EQ(m_host->Initialize(nullptr, "V02.000.01"), 0);
    EXPECT_TRUE(m_host->LogContains("TesselEntry: setting gwcbfunc to 0x"));
    InvokeOptions options;
    options.remoteAddress = "192.0.2.7";
    auto older = m_host->Invoke(kSelectSample, options);
    EXPECT_EQ(older.result, 0);
    EXPECT_EQ(older.length, std::strlen(kSelectSample));
    ASSERT_EQ(m_host->Events().size(), 1u);
    EXPECT_NE(testhost::UrlDecode(m_host->Events()[0]).find("192.0.2.7"), std::string::npos)
        << testhost::UrlDecode(m_host->Events()[0]);
    EXPECT_EQ(m_host->Terminate(), 0);

    // Any other version: the length comes back as the response length.
    for (const char *version : {"V02.000.02", "V02.000.010", "V03", "v01"}) {
        m_host->ClearCalls();
        ASSERT_EQ(m_host->Initialize(nullptr, version), 0);
        auto newer = m_host->Invoke(kSelectSample, options);
        EXPECT_EQ(newer.result, 0) << version;
        EXPECT_EQ(newer.length, newer.response.size()) << version;
        EXPECT_EQ(m_host->Events().size(), 1u) << version;
        EXPECT_EQ(m_host->Terminate(), 0);
    }
}

TEST_F(Dorvex, SecondInitializeReplacesTheEarlierObject) {
    ScopedFile log(InCwd(m_host->TesselName() + ".log"));
    ASSERT_EQ(m_host->Initialize(Config("<DebugLevel>TSL_FILE</DebugLevel>")), 0);
    ASSERT_TRUE(Exists(log.Path()));
    EXPECT_EQ(OpenCount(log.Path()), 1);
    // The earlier object is destroyed first: its log file is closed.
    ASSERT_EQ(m_host->Initialize(nullptr), 0);
    EXPECT_EQ(OpenCount(log.Path()), 0);
    auto result = m_host->Invoke(kDescribe);
    EXPECT_EQ(result.result, 0);
    EXPECT_EQ(result.freeResult, 0);

    // Both in file mode: had the earlier object gone after the new one was
    // built, its destructor would close the new object's file and end the new
    // object's application.
    const std::string fileConfig = Config("<DebugLevel>TSL_FILE</DebugLevel>");
    ASSERT_EQ(m_host->Initialize(fileConfig), 0);
    ASSERT_EQ(m_host->Initialize(fileConfig), 0);
    EXPECT_EQ(OpenCount(log.Path()), 1);
    EXPECT_EQ(m_host->Call("marker-action"), 400);
    EXPECT_NE(entrytest::ReadFile(log.Path()).find("unknown action [marker-action]"),
              std::string::npos);
    auto select = m_host->Invoke(kSelectSample);
    EXPECT_EQ(select.result, 0) << "the application must still be there";
    EXPECT_NE(select.response.find("Dalkah"), std::string::npos) << select.response;
    EXPECT_EQ(m_host->Terminate(), 0);
    EXPECT_EQ(OpenCount(log.Path()), 0);
}

TEST_F(Dorvex, RawConfigurationAddsTheHttpHeader) {
    ASSERT_EQ(m_host->Initialize(Config("<Raw>TRUE</Raw>")), 0);
    auto raw = m_host->Invoke(kDescribe);
    EXPECT_EQ(raw.result, 0);
    EXPECT_EQ(raw.response.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << raw.response;
    ASSERT_EQ(m_host->Initialize(Config("<Raw>no</Raw>")), 0);
    auto plain = m_host->Invoke(kDescribe);
    EXPECT_EQ(plain.response.find("HTTP/1.1"), std::string::npos);
}

TEST_F(Dorvex, UnloadWithALiveObjectDestroysIt) {
    ScopedFile log(InCwd(m_host->TesselName() + ".log"));
    ASSERT_EQ(m_host->Initialize(Config("<DebugLevel>TSL_FILE</DebugLevel>")), 0);
    EXPECT_EQ(OpenCount(log.Path()), 1);
    m_host->Unload();
    EXPECT_EQ(OpenCount(log.Path()), 0);
    EXPECT_TRUE(m_host->LogContains("Tessel DllMain: detached, hModule 0x"));
}

TEST_F(Dorvex, BadRequestsAreAnsweredAndLogged) {
    ScopedFile secret(InCwd(m_host->TesselName() + ".secret"));
    {
        std::FILE *file = std::fopen(secret.Path().c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs("NT-LEAKED-CONTENT", file);
        std::fclose(file);
    }
    ASSERT_EQ(m_host->Initialize(nullptr), 0);
    const std::string xxe = "<!DOCTYPE tesselrequest [<!ENTITY x SYSTEM \"file://" + secret.Path() +
                            "\">]><tesselrequest><select><from><db name=\"&x;\"/></from>"
                            "</select></tesselrequest>";
    std::string binary;
    for (int i = 1; i < 256; ++i) binary.push_back(static_cast<char>(i));
    const std::string truncated = std::string(kSelectSample).substr(0, 60);
    for (const std::string &request : {xxe, binary, truncated, std::string()}) {
        m_host->ClearLog();
        auto result = m_host->Invoke(request);
        EXPECT_EQ(result.result, 0);
        ASSERT_TRUE(result.gotResponse);
        EXPECT_EQ(result.freeResult, 0);
        EXPECT_NE(result.response.find("RESPONSE_TABLE"), std::string::npos) << result.response;
        EXPECT_EQ(result.response.find("NT-LEAKED-CONTENT"), std::string::npos);
        const std::string log = m_host->TakeLog();
        EXPECT_EQ(log.find("NT-LEAKED-CONTENT"), std::string::npos);
        EXPECT_NE(log.find("] XercesInt::fatalError: line "), std::string::npos) << log;
        EXPECT_NE(log.find("] Tessel::Invoke: tessel [" + m_host->TesselName() +
                           "] dispatch [Dorvex] error parsing xml ["),
                  std::string::npos)
            << log;
    }
    EXPECT_TRUE(m_host->Events().empty()) << "no table, no execution record";

    // In raw mode parse failures are not logged, and the pipeline still answers.
    ASSERT_EQ(m_host->Initialize(Config("<Raw>true</Raw>")), 0);
    m_host->ClearLog();
    auto raw = m_host->Invoke(truncated);
    EXPECT_EQ(raw.result, 0);
    EXPECT_EQ(raw.response.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    const std::string rawLog = m_host->TakeLog();
    EXPECT_EQ(rawLog.find("fatalError"), std::string::npos) << rawLog;
    EXPECT_EQ(rawLog.find("error parsing xml"), std::string::npos) << rawLog;
}

TEST_F(Dorvex, ConcurrentInvokesFromEightThreads) {
    ASSERT_EQ(m_host->Initialize(nullptr), 0);
    constexpr int kThreads = 8;
    constexpr int kEach = 25;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                auto r = m_host->Invoke(i % 2 == 0 ? kDescribe : kSelectSample);
                if (r.result != 0 || !r.gotResponse || r.freeResult != 0 ||
                    r.length != r.response.size())
                    ++failures[t];
            }
        });
    }
    for (auto &thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << t;
    // One event per select (describe requests name no table).
    EXPECT_EQ(m_host->Events().size(), static_cast<std::size_t>(kThreads * (kEach / 2)));
}

}  // namespace
