// The trace log, driven directly (the copy linked into this test program).
#include "base/trace_log.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/test_host.h"

namespace {

using testhost::SplitLines;
using testhost::StderrCapture;

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string OwnPrefix(const char *tag) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "%s[0x%08x] ", tag,
                  static_cast<unsigned>(pthread_self() & 0xFFFFFFFFu));
    return prefix;
}

// Restores the process-wide log state after each test.
class TraceLog : public ::testing::Test {
  protected:
    void SetUp() override {
        m_path = "nt-trace-test-" + std::to_string(::getpid()) + ".log";
        TslCloseLogFile();
        TslSetLevel(TSL_TRACE);
    }
    void TearDown() override {
        TslCloseLogFile();
        TslSetLevel(TSL_TRACE);
        std::remove(m_path.c_str());
        std::remove((m_path + ".2").c_str());
    }

    // Runs `body` with standard error captured.
    template <typename Body>
    std::string Captured(Body body) {
        StderrCapture capture;
        capture.Start();
        body();
        return capture.Stop();
    }

    std::string m_path;
};

TEST_F(TraceLog, PrefixIsTwentyCharactersWithTagAndThreadId) {
    const std::string out = Captured([] {
        TslLog(TSL_ERROR, "one %d\n", 1);
        TslLog(TSL_WARNING, "two %s\n", "x");
        TslLog(TSL_TRACE, "three\n");
    });
    EXPECT_EQ(out, OwnPrefix("ERROR: ") + "one 1\n" + OwnPrefix("WARN:  ") + "two x\n" +
                       OwnPrefix("TRACE: ") + "three\n");
    EXPECT_EQ(OwnPrefix("TRACE: ").size(), 20u);
    EXPECT_EQ(TslThreadId(), static_cast<unsigned>(pthread_self() & 0xFFFFFFFFu));
    // The log adds no line end of its own, and a null format writes nothing.
    EXPECT_EQ(Captured([] {
                  TslLog(TSL_TRACE, "no line end");
                  TslLog(TSL_TRACE, nullptr);
              }),
              OwnPrefix("TRACE: ") + "no line end");
}

TEST_F(TraceLog, LevelsDecideWhatIsWritten) {
    auto all = [] {
        TslLog(TSL_NOLEVEL, "L0\n");
        TslLog(TSL_ERROR, "L1\n");
        TslLog(TSL_WARNING, "L2\n");
        TslLog(TSL_TRACE, "L3\n");
        TslLog(5, "L5\n");
    };
    TslSetLevel(TSL_NOLEVEL);
    EXPECT_EQ(Captured(all), OwnPrefix("?LEVEL?") + "L0\n");
    TslSetLevel(TSL_ERROR);
    EXPECT_EQ(Captured(all), OwnPrefix("?LEVEL?") + "L0\n" + OwnPrefix("ERROR: ") + "L1\n");
    TslSetLevel(TSL_WARNING);
    EXPECT_EQ(Captured(all), OwnPrefix("?LEVEL?") + "L0\n" + OwnPrefix("ERROR: ") + "L1\n" +
                                 OwnPrefix("WARN:  ") + "L2\n");
    EXPECT_TRUE(TslLogEnabled(TSL_WARNING));
    EXPECT_FALSE(TslLogEnabled(TSL_TRACE));
    TslSetLevel(TSL_TRACE);
    const std::string traced = Captured(all);
    EXPECT_EQ(traced.find("L5"), std::string::npos) << "level 5 only passes in file mode";
    EXPECT_NE(traced.find(OwnPrefix("TRACE: ") + "L3\n"), std::string::npos);
    // File mode: every level passes, level 5 with the ?LEVEL? tag.
    TslSetLevel(TSL_FILE);
    EXPECT_EQ(TslGetLevel(), TSL_FILE);
    EXPECT_EQ(Captured(all), OwnPrefix("?LEVEL?") + "L0\n" + OwnPrefix("ERROR: ") + "L1\n" +
                                 OwnPrefix("WARN:  ") + "L2\n" + OwnPrefix("TRACE: ") + "L3\n" +
                                 OwnPrefix("?LEVEL?") + "L5\n");
}

TEST_F(TraceLog, LongMessagesAreCutTo8171Characters) {
    const std::string exact(8171, 'a');
    const std::string longer = exact + "bcdef";
    EXPECT_EQ(Captured([&] { TslLog(TSL_TRACE, "%s", exact.c_str()); }),
              OwnPrefix("TRACE: ") + exact);
    EXPECT_EQ(Captured([&] { TslLog(TSL_TRACE, "%s", longer.c_str()); }),
              OwnPrefix("TRACE: ") + exact);
    const std::string huge(100000, 'z');
    EXPECT_EQ(Captured([&] { TslLog(TSL_ERROR, "%s\n", huge.c_str()); }).size(), 20u + 8171u);
}

TEST_F(TraceLog, FileModeWritesDatedLinesFlushedAtOnce) {
    const char *oldTz = std::getenv("TZ");
    const std::string savedTz = oldTz != nullptr ? oldTz : "";
    setenv("TZ", "UTC", 1);
    tzset();
    TslOpenLogFile(m_path.c_str());
    TslSetLevel(TSL_FILE);
    const std::time_t before = std::time(nullptr);
    const std::string out = Captured([] {
        TslLog(TSL_TRACE, "hello %s\n", "file");
        TslLog(TSL_ERROR, "second\n");
        TslLog(7, "odd level\n");
    });
    const std::time_t after = std::time(nullptr);
    // Read while the file is still open: each line is flushed as written.
    const std::string file = ReadFile(m_path);
    EXPECT_EQ(out, OwnPrefix("TRACE: ") + "hello file\n" + OwnPrefix("ERROR: ") + "second\n" +
                       OwnPrefix("?LEVEL?") + "odd level\n");
    const auto lines = SplitLines(file);
    ASSERT_EQ(lines.size(), 3u) << file;
    const std::regex dated(R"(^(\d\d/\d\d/\d\d \d\d:\d\d:\d\d): (.*)$)");
    const std::vector<std::string> bodies = {OwnPrefix("TRACE: ") + "hello file",
                                             OwnPrefix("ERROR: ") + "second",
                                             OwnPrefix("?LEVEL?") + "odd level"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, dated)) << lines[i];
        EXPECT_EQ(m[2].str(), bodies[i]);
        // The stamp is the local time (UTC here) of the write.
        bool matches = false;
        for (std::time_t t = before; t <= after; ++t) {
            std::tm tm{};
            gmtime_r(&t, &tm);
            char stamp[32];
            std::strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M:%S", &tm);
            matches |= m[1].str() == stamp;
        }
        EXPECT_TRUE(matches) << m[1].str();
    }
    EXPECT_EQ(file.back(), '\n');
    if (oldTz != nullptr) {
        setenv("TZ", savedTz.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST_F(TraceLog, FileOnlyInFileModeAndReopenClosesTheEarlierFile) {
    TslOpenLogFile(m_path.c_str());
    TslSetLevel(TSL_TRACE);
    Captured([] { TslLog(TSL_ERROR, "not in the file\n"); });
    EXPECT_EQ(ReadFile(m_path), "");

    TslSetLevel(TSL_FILE);
    Captured([] { TslLog(TSL_TRACE, "first file\n"); });
    const std::string second = m_path + ".2";
    TslOpenLogFile(second.c_str());
    Captured([] { TslLog(TSL_TRACE, "second file\n"); });
    const std::string a = ReadFile(m_path);
    const std::string b = ReadFile(second);
    EXPECT_NE(a.find("first file"), std::string::npos);
    EXPECT_EQ(a.find("second file"), std::string::npos);
    EXPECT_NE(b.find("second file"), std::string::npos);
    EXPECT_EQ(b.find("first file"), std::string::npos);

    // Reopening truncates.
    TslOpenLogFile(m_path.c_str());
    EXPECT_EQ(ReadFile(m_path), "");

    // After closing, file mode goes on with the debugger channel only.
    TslCloseLogFile();
    EXPECT_EQ(TslGetLevel(), TSL_FILE);
    EXPECT_EQ(Captured([] { TslLog(TSL_TRACE, "after close\n"); }),
              OwnPrefix("TRACE: ") + "after close\n");
    EXPECT_EQ(ReadFile(m_path), "");
    EXPECT_EQ(ReadFile(second).find("after close"), std::string::npos);

    // A file that cannot be opened leaves file mode without a file.
    TslOpenLogFile("/nonexistent-dir/x.log");
    EXPECT_EQ(Captured([] { TslLog(TSL_TRACE, "still logged\n"); }),
              OwnPrefix("TRACE: ") + "still logged\n");
}

TEST_F(TraceLog, ConcurrentThreadsProduceWholeLines) {
    TslOpenLogFile(m_path.c_str());
    TslSetLevel(TSL_FILE);
    constexpr int kLines = 1500;
    const std::string a(700, 'a');
    const std::string b(900, 'b');
    std::vector<unsigned> ids(2);
    const std::string out = Captured([&] {
        auto writer = [&](int index, const std::string &text) {
            ids[index] = TslThreadId();
            for (int i = 0; i < kLines; ++i) TslLog(TSL_TRACE, "%d %s\n", i, text.c_str());
        };
        std::thread t1(writer, 0, std::cref(a));
        std::thread t2(writer, 1, std::cref(b));
        t1.join();
        t2.join();
    });
    const std::string file = ReadFile(m_path);
    ASSERT_NE(ids[0], ids[1]);
    char firstId[16];
    std::snprintf(firstId, sizeof firstId, "%08x", ids[0]);
    auto check = [&](const std::string &text, bool dated) {
        int counts[2] = {0, 0};
        int next[2] = {0, 0};
        for (std::string line : SplitLines(text)) {
            if (dated) {
                ASSERT_GT(line.size(), 19u);
                line = line.substr(19);  // "mm/dd/yy hh:mm:ss: "
            }
            ASSERT_GE(line.size(), 20u);
            const int who = line.compare(10, 8, firstId) == 0 ? 0 : 1;
            const std::string &payload = who == 0 ? a : b;
            char expected[32];
            std::snprintf(expected, sizeof expected, "TRACE: [0x%08x] %d ", ids[who], next[who]);
            ASSERT_EQ(line, expected + payload) << "torn or out-of-order line";
            ++next[who];
            ++counts[who];
        }
        EXPECT_EQ(counts[0], kLines);
        EXPECT_EQ(counts[1], kLines);
    };
    check(out, false);
    check(file, true);
}

}  // namespace
