// The Tessel object built in this process (not through the shared library), to
// see the trace level right after construction, before the application's
// "Initialize" hook changes it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/trace_log.h"
#include "entry/tessel.h"
#include "entry_helpers.h"
#include "support/test_host.h"

namespace {

using entrytest::Exists;
using entrytest::InCwd;
using entrytest::OpenCount;
using entrytest::ReadFile;
using entrytest::ScopedFile;
using entrytest::UniqueName;

std::string Config(const std::string &entries) {
    return "<?xml version=\"1.0\"?><KorvaneConfig><Tessel>" + entries + "</Tessel></KorvaneConfig>";
}

class TesselConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        m_name = UniqueName("NtCfg");
        m_logFile = std::make_unique<ScopedFile>(InCwd(m_name + ".log"));
        TslSetLevel(TSL_TRACE);
    }
    void TearDown() override {
        TslCloseLogFile();
        TslSetLevel(TSL_TRACE);
    }

    // Builds the object with standard error captured; the level right after
    // construction is kept in m_levelAfter.
    std::unique_ptr<Tessel> Build(const char *configuration, const char *version = "V02.000.02") {
        testhost::StderrCapture capture;
        capture.Start();
        auto tessel = std::make_unique<Tessel>(version, m_name.c_str(), "Dorvex", nullptr,
                                               testhost::TestHost::Callback(), configuration);
        m_levelAfter = TslGetLevel();
        m_log = capture.Stop();
        return tessel;
    }
    void Destroy(std::unique_ptr<Tessel> &tessel) {
        testhost::StderrCapture capture;
        capture.Start();
        tessel.reset();
        m_log += capture.Stop();
    }

    std::string m_name;
    std::unique_ptr<ScopedFile> m_logFile;
    int m_levelAfter = -1;
    std::string m_log;
};

TEST_F(TesselConfig, NoConfigurationLeavesLevelTwo) {
    for (const char *config : {static_cast<const char *>(nullptr), ""}) {
        auto tessel = Build(config);
        EXPECT_EQ(m_levelAfter, TSL_WARNING);
        EXPECT_TRUE(tessel->ConfigEntries().empty());
        EXPECT_FALSE(tessel->Raw());
        EXPECT_EQ(tessel->Name().str(), m_name);
        EXPECT_EQ(tessel->DispatchName().str(), "Dorvex");
        EXPECT_EQ(tessel->Version().str(), "V02.000.02");
        EXPECT_EQ(tessel->ConfigData().str(), "");
        EXPECT_EQ(tessel->Key(), 0u);
        EXPECT_EQ(tessel->AuthCheck(1, 2, 3, 4, 5), 400);
        // The construction trace is written at the level in force before it.
        EXPECT_NE(m_log.find("TRACE: "), std::string::npos);
        EXPECT_NE(m_log.find("] After erasing transaction map\n"), std::string::npos) << m_log;
        Destroy(tessel);
        EXPECT_FALSE(Exists(m_logFile->Path()));
        TslSetLevel(TSL_TRACE);
    }
}

TEST_F(TesselConfig, DebugLevelWordsAreExact) {
    const struct {
        const char *entries;
        int level;
    } cases[] = {
        {"<DebugLevel>TSL_NOLEVEL</DebugLevel>", TSL_NOLEVEL},
        {"<DebugLevel>TSL_ERROR</DebugLevel>", TSL_ERROR},
        {"<DebugLevel>TSL_WARNING</DebugLevel>", TSL_WARNING},
        {"<DebugLevel>TSL_TRACE</DebugLevel>", TSL_TRACE},
        {"<DebugLevel>tsl_trace</DebugLevel>", TSL_WARNING},
        {"<DebugLevel>tsl_file</DebugLevel>", TSL_WARNING},
        {"<DebugLevel> TSL_TRACE</DebugLevel>", TSL_WARNING},
        {"<debuglevel>TSL_TRACE</debuglevel>", TSL_WARNING},
        {"<DEBUGLEVEL>TSL_ERROR</DEBUGLEVEL>", TSL_WARNING},
        {"<DebugLevel>TSL_ERROR</DebugLevel><DebugLevel>TSL_TRACE</DebugLevel>", TSL_TRACE},
        {"<DebugLevel>TSL_TRACE</DebugLevel><DebugLevel>TSL_NOLEVEL</DebugLevel>", TSL_NOLEVEL},
        {"<DebugLevel>TSL_ERROR</DebugLevel><DebugLevel>bogus</DebugLevel>", TSL_ERROR},
        {"<DebugLevel level=\"TSL_TRACE\">TSL_ERROR</DebugLevel>", TSL_ERROR},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entries);
        TslSetLevel(TSL_TRACE);
        auto tessel = Build(Config(c.entries).c_str());
        EXPECT_EQ(m_levelAfter, c.level);
        Destroy(tessel);
        EXPECT_FALSE(Exists(m_logFile->Path()));
    }
}

TEST_F(TesselConfig, FileModeOpensTheNamedLogFile) {
    const int before = OpenCount(m_logFile->Path());
    ASSERT_EQ(before, 0);
    auto tessel = Build(Config("<DebugLevel>TSL_FILE</DebugLevel>").c_str());
    EXPECT_EQ(m_levelAfter, TSL_FILE);
    ASSERT_TRUE(Exists(m_logFile->Path()));
    EXPECT_EQ(ReadFile(m_logFile->Path()), "") << "nothing is logged after the file opens";
    EXPECT_EQ(OpenCount(m_logFile->Path()), 1);

    testhost::StderrCapture capture;
    capture.Start();
    TslLog(TSL_TRACE, "into the file %d\n", 42);
    capture.Stop();
    const std::string file = ReadFile(m_logFile->Path());
    EXPECT_NE(file.find(": " + entrytest::Prefix("TRACE: ") + "into the file 42\n"),
              std::string::npos)
        << file;

    Destroy(tessel);
    EXPECT_EQ(OpenCount(m_logFile->Path()), 0) << "the destructor closes the log file";
    EXPECT_EQ(TslGetLevel(), TSL_FILE) << "closing the file leaves the level";
}

TEST_F(TesselConfig, SecondFileEntryReopensWithoutLeaking) {
    auto tessel = Build(Config("<DebugLevel>TSL_FILE</DebugLevel><DebugLevel>TSL_FILE</DebugLevel>"
                               "<DebugLevel>TSL_FILE</DebugLevel>")
                            .c_str());
    EXPECT_EQ(m_levelAfter, TSL_FILE);
    EXPECT_EQ(OpenCount(m_logFile->Path()), 1);
    Destroy(tessel);
    EXPECT_EQ(OpenCount(m_logFile->Path()), 0);

    // A later level word keeps the file open but leaves file mode.
    auto later = Build(
        Config("<DebugLevel>TSL_FILE</DebugLevel><DebugLevel>TSL_ERROR</DebugLevel>").c_str());
    EXPECT_EQ(m_levelAfter, TSL_ERROR);
    EXPECT_TRUE(Exists(m_logFile->Path()));
    Destroy(later);
    EXPECT_EQ(OpenCount(m_logFile->Path()), 0);
}

TEST_F(TesselConfig, RawAndEntriesAreKept) {
    auto tessel = Build(Config("<Raw>TRUE</Raw><EventTime>30</EventTime>"
                               "<Server port=\"7\">main</Server>")
                            .c_str());
    EXPECT_TRUE(tessel->Raw());
    ASSERT_EQ(tessel->ConfigEntries().size(), 3u);
    EXPECT_EQ(tessel->ConfigEntries()[0].name.str(), "Raw");
    EXPECT_EQ(tessel->ConfigEntries()[0].value.str(), "TRUE");
    EXPECT_EQ(tessel->ConfigEntries()[1].value.str(), "30");
    ASSERT_EQ(tessel->ConfigEntries()[2].children.size(), 1u);
    EXPECT_EQ(tessel->ConfigEntries()[2].children[0].value.str(), "7");
    EXPECT_NE(tessel->ConfigData().str().find("<Raw>TRUE</Raw>"), std::string::npos);
    Destroy(tessel);
}

TEST_F(TesselConfig, BrokenConfigurationStillBuildsTheObject) {
    auto tessel =
        Build(Config("<DebugLevel>TSL_ERROR</DebugLevel><Raw>true</Raw><Broken>").c_str());
    ASSERT_NE(tessel, nullptr);
    EXPECT_EQ(m_levelAfter, TSL_ERROR);
    EXPECT_TRUE(tessel->Raw());
    EXPECT_EQ(tessel->ConfigEntries().size(), 2u);
    EXPECT_NE(m_log.find("XercesInt::fatalError: line 1 column "), std::string::npos) << m_log;
    Destroy(tessel);

    auto doctype =
        Build(("<!DOCTYPE x [<!ENTITY e \"TSL_FILE\">]>" + Config("<DebugLevel>&e;</DebugLevel>"))
                  .c_str());
    EXPECT_EQ(m_levelAfter, TSL_WARNING);
    EXPECT_TRUE(doctype->ConfigEntries().empty());
    EXPECT_FALSE(Exists(m_logFile->Path()));
    Destroy(doctype);
}

TEST_F(TesselConfig, SendEventUsesTheCallbackWithTheUrlEncodedText) {
    testhost::TestHost host(m_name);  // the callback's receiver; nothing loaded
    auto tessel = Build(nullptr);
    EXPECT_EQ(tessel->SendEvent(tslString("a b&c=d/e")), 1);
    host.SetSendEventResult(0);
    EXPECT_EQ(tessel->SendEvent(tslString("x")), 0);
    EXPECT_EQ(host.Events(), (std::vector<std::string>{"a%20b%26c%3Dd%2Fe", "x"}));
    EXPECT_EQ(testhost::UrlDecode(host.Events()[0]), "a b&c=d/e");
    Destroy(tessel);

    auto noCallback =
        std::make_unique<Tessel>("V02.000.02", m_name.c_str(), "D", nullptr, nullptr, nullptr);
    EXPECT_EQ(noCallback->SendEvent(tslString("y")), 0);
    EXPECT_EQ(host.Events().size(), 2u);
    Destroy(noCallback);
}

}  // namespace
